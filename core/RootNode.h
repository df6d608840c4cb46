#pragma once
// TRootNode: the base of every tree node, and as is the container node (root, regulator, channel).

#include <atomic>

#include "core/Component.h"
#include "core/ImageIndex.h"

namespace vexa {

class TRootNode : public TComponent {
 public:
  explicit TRootNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Copies Enabled (down the subtree), Name, Caption, Comments, ImageIndex and Visible from a
  // TRootNode; Changed ends True whatever the source.
  virtual void Assign(const TPersistent& source);
  void Loaded() override;
  bool Enabled() const { return enabled_; }
  // Propagates to every TRootNode child, also when the value does not change.
  virtual void SetEnabled(bool value);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& value);
  const QString& Comments() const { return comments_; }
  void SetComments(const QString& value);
  // Opaque back-link to the view item showing the node; set by views, never streamed.
  void* PData() const { return pdata_; }
  void SetPData(void* data) { pdata_ = data; }
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool Changed() const { return changed_; }
  void SetChanged(bool value) { changed_ = value; }

  // Children that are tree nodes, in order (value labels and other components are skipped).
  int NodeCount() const;
  TRootNode* Node(int index) const;

 protected:
  // Stores a property's new value; the node counts as changed only when the value differs.
  template <class Field, class Value>
  void StoreChanged(Field& field, const Value& value) {
    if (StoreIfDifferent(field, value)) changed_ = true;
  }

 private:
  std::atomic<bool> enabled_ = false;  // read by the poller thread
  QString caption_;
  QString comments_;
  void* pdata_ = nullptr;
  int imageIndex_ = iiNEW;
  bool visible_ = true;
  bool changed_ = true;
};

// Depth-first, pre-order search of root's descendants by exact component name; nullptr when none.
TComponent* FindNode(const TComponent* root, const QString& name);

}  // namespace vexa
