#pragma once
// TSetupNode: the settings of the installation (component SETUP). The network acts on its port and
// speed (TNetwork::SetPortIndex); here they are only kept.

#include <QStringList>

#include "core/Component.h"

namespace vexa {

// The most diagram pages the settings may list: every page is built, with its picture, at start.
inline constexpr int kMaxDiagramPages = 1000;

class TSetupNode : public TComponent {
 public:
  explicit TSetupNode(TComponent* owner);

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  static constexpr int PortBaseAddresses[2] = {0x3F8, 0x2F8};

  const QString& Password() const { return password_; }
  void SetPassword(const QString& v) { password_ = v; }
  int PortIndex() const { return portIndex_; }
  void SetPortIndex(int value) { portIndex_ = value; }
  int BaudRateIndex() const { return baudRateIndex_; }
  void SetBaudRateIndex(int value) { baudRateIndex_ = value; }
  bool AutoSaveEnabled() const { return autoSaveEnabled_; }
  void SetAutoSaveEnabled(bool v) { autoSaveEnabled_ = v; }
  int AutoSaveInterval() const { return autoSaveInterval_; }
  void SetAutoSaveInterval(int v) { autoSaveInterval_ = v; }
  bool AutoLoadEnabled() const { return autoLoadEnabled_; }
  void SetAutoLoadEnabled(bool v) { autoLoadEnabled_ = v; }
  const QString& TablesDir() const { return tablesDir_; }
  void SetTablesDir(const QString& v) { tablesDir_ = v; }
  bool NewConfig() const { return newConfig_; }
  void SetNewConfig(bool v) { newConfig_ = v; }
  bool Demo() const { return demo_; }
  void SetDemo(bool v) { demo_ = v; }
  const QStringList& MNames() const { return mNames_; }
  void SetMNames(const QStringList& v) { mNames_ = v; }
  const QStringList& MFiles() const { return mFiles_; }
  void SetMFiles(const QStringList& v) { mFiles_ = v; }

 private:
  QString password_ = QStringLiteral("BrastLun");
  int portIndex_ = -1;
  int baudRateIndex_ = 3;
  bool autoSaveEnabled_ = false;
  int autoSaveInterval_ = 5;
  bool autoLoadEnabled_ = true;
  QString tablesDir_;
  bool newConfig_ = false;
  bool demo_ = false;
  QStringList mNames_;
  QStringList mFiles_;
};

}  // namespace vexa
