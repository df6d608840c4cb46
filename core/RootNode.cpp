#include "core/RootNode.h"

namespace vexa {

TRootNode::TRootNode(TComponent* owner) : TComponent(owner) {}

const TClassInfo& TRootNode::StaticClassInfo() {
  using P = Props<TRootNode>;
  static const TClassInfo info{
      "TRootNode",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TRootNode(owner); },
      {
          P::Bool("Enabled", false, &TRootNode::Enabled, &TRootNode::SetEnabled),
          P::String("Caption", &TRootNode::Caption, &TRootNode::SetCaption),
          P::String("Comments", &TRootNode::Comments, &TRootNode::SetComments),
          // The view link refers to an on-screen item, never to a component: never stored.
          [] {
            TPropInfo p;
            p.Name = QStringLiteral("PData");
            p.Kind = TPropKind::Reference;
            p.Get = [](const TPersistent&) { return QVariant(); };
            p.Set = [](TPersistent&, const QVariant&) {};
            return p;
          }(),
          P::Int("ImageIndex", iiNEW, &TRootNode::ImageIndex, &TRootNode::SetImageIndex)
              .Within(iiNone, iiCount - 1),
          P::Bool("Visible", true, &TRootNode::Visible, &TRootNode::SetVisible),
          P::Bool("Changed", std::nullopt, &TRootNode::Changed, &TRootNode::SetChanged),
      }};
  return info;
}

void TRootNode::Assign(const TPersistent& source) {
  if (const auto* src = dynamic_cast<const TRootNode*>(&source)) {
    SetEnabled(src->Enabled());
    SetName(src->Name());
    SetCaption(src->Caption());
    SetComments(src->Comments());
    SetImageIndex(src->ImageIndex());
    SetVisible(src->Visible());
  }
  changed_ = true;
}

void TRootNode::Loaded() {
  TComponent::Loaded();
  changed_ = false;
}

void TRootNode::SetEnabled(bool value) {
  if (value != enabled_) changed_ = true;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* node = dynamic_cast<TRootNode*>(Component(i))) node->SetEnabled(value);
  enabled_ = value;
}

void TRootNode::SetCaption(const QString& value) {
  StoreChanged(caption_, value);
}

void TRootNode::SetComments(const QString& value) {
  StoreChanged(comments_, value);
}

void TRootNode::SetImageIndex(int value) {
  StoreChanged(imageIndex_, value);
}

void TRootNode::SetVisible(bool value) {
  StoreChanged(visible_, value);
}

int TRootNode::NodeCount() const {
  int n = 0;
  for (int i = 0; i < ComponentCount(); ++i)
    if (dynamic_cast<TRootNode*>(Component(i)) != nullptr) ++n;
  return n;
}

TRootNode* TRootNode::Node(int index) const {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* node = dynamic_cast<TRootNode*>(Component(i)); node != nullptr && index-- == 0) return node;
  return nullptr;
}

TComponent* FindNode(const TComponent* root, const QString& name) {
  if (root == nullptr) return nullptr;
  for (int i = 0; i < root->ComponentCount(); ++i) {
    TComponent* child = root->Component(i);
    if (child->Name() == name) return child;
    if (child->ComponentCount() > 0)
      if (TComponent* found = FindNode(child, name)) return found;
  }
  return nullptr;
}

}  // namespace vexa
