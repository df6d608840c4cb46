#pragma once
// TRootPropertiesForm: the caption and comments of the network, a regulator or a channel.

#include <QDialog>
#include <QString>

#include "ui/parts/HelpUnit.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vexa {

class TRootNode;

class TRootPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcNodeProperties;
  static constexpr int kClientWidth = 184;
  static constexpr int kClientHeight = 240;

  explicit TRootPropertiesForm(QWidget* parent = nullptr);

  // The node the dialog edits; its caption and comments are loaded at once and again when shown.
  void SetNode(TRootNode* node);
  TRootNode* Node() const { return node_; }

  // The fields as the dialog shows them.
  QString Comments() const;
  void SetComments(const QString& value);
  QString RCaption() const;
  void SetRCaption(const QString& value);
  // Name and comments shown but not editable (a template's node while the network is closed).
  bool ReadOnly() const;
  void SetReadOnly(bool readOnly);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Load();
  void OkClick();

  QLineEdit* nameEdit_ = nullptr;
  QPlainTextEdit* commentsEdit_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  TRootNode* node_ = nullptr;
};

}  // namespace vexa
