#include "core/Component.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace vexa {

EComponentError::EComponentError(const QString& message) : std::runtime_error(message.toStdString()) {}

TPropInfo TPropInfo::RealDates() && {
  // Up to the last representable instant of the last day.
  return std::move(*this).Within(kFirstStoredDay, std::nextafter(kLastStoredDay + 1, 0.0));
}

const std::vector<const TPropInfo*>& TClassInfo::Properties() const {
  if (!built_) {
    if (Parent != nullptr) all_ = Parent->Properties();
    for (const TPropInfo& p : Own) all_.push_back(&p);
    // The first of a name wins, as a walk in this order finds it.
    for (const TPropInfo* p : all_)
      if (!byName_.contains(p->Name)) byName_.insert(p->Name, p);
    built_ = true;
  }
  return all_;
}

const TPropInfo* TClassInfo::FindProperty(const QString& name) const {
  Properties();
  return byName_.value(name, nullptr);
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->Parent)
    if (c == &other) return true;
  return false;
}

namespace {
QHash<QString, const TClassInfo*>& Classes() {
  static QHash<QString, const TClassInfo*> classes;
  return classes;
}
}  // namespace

void TClassRegistry::Register(const TClassInfo& info) {
  Classes().insert(info.Name, &info);
}

const TClassInfo* TClassRegistry::Find(const QString& name) {
  return Classes().value(name, nullptr);
}

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->children_.push_back(this);
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  DestroyComponents();
  if (owner_ != nullptr) {
    auto& siblings = owner_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info{"TComponent",
                               nullptr,
                               nullptr,
                               {Props<TComponent>::Int("Tag", 0, &TComponent::Tag, &TComponent::SetTag)}};
  return info;
}

void TComponent::CheckNameFree(const QString& name, const TComponent* except) const {
  if (name.isEmpty()) return;
  for (const TComponent* c : children_)
    if (c != except && c->name_ == name)
      throw EComponentError(QStringLiteral("A component named %1 already exists").arg(name));
}

void TComponent::SetName(const QString& name) {
  if (name == name_) return;
  if (owner_ != nullptr) owner_->CheckNameFree(name, this);
  name_ = name;
}

int TComponent::ComponentIndex() const {
  if (owner_ == nullptr) return -1;
  const auto& siblings = owner_->children_;
  auto it = std::find(siblings.begin(), siblings.end(), this);
  return it == siblings.end() ? -1 : static_cast<int>(it - siblings.begin());
}

TComponent* TComponent::FindComponent(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  for (TComponent* c : children_)
    if (c->name_ == name) return c;
  return nullptr;
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> child) {
  if (!child) return;
  CheckNameFree(child->name_, nullptr);
  if (child->owner_ != nullptr) {
    // Already owned elsewhere: take it over from its owner.
    auto& old = child->owner_->children_;
    old.erase(std::remove(old.begin(), old.end(), child.get()), old.end());
  }
  child->owner_ = this;
  children_.push_back(child.release());
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return nullptr;
  children_.erase(it);
  child->owner_ = nullptr;
  return std::unique_ptr<TComponent>(child);
}

void TComponent::DestroyComponents() {
  while (!children_.empty()) {
    TComponent* last = children_.back();
    children_.pop_back();
    last->owner_ = nullptr;
    delete last;  // owned: this component is its owner
  }
}

void TComponent::Loaded() {
  state_ &= ~csLoading;
}

}  // namespace vexa
