#pragma once
// The program's real message boxes in a window test. While a TRealMessageBoxes lives, every message
// still goes through the test's scripted service (recorded, its answer chosen there), and is then
// shown as the real modal QMessageBox, whose own event loop runs inside the handler that asked. A
// timer answers it as the operator would: once the box is the active window, with a real key press
// (Return for its default button, Esc for its escape button) or a real click on the answer's button.
// For windows only: it needs QtWidgets and QtTest.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>

#include "core/Services.h"
#include "support/TestSupport.h"
#include "ui/parts/MessageBoxService.h"

namespace vexa::test {

// How the operator answers each box.
enum class TBoxClose {
  Keys,   // Return when the answer is the default button, Esc when it is the escape button, else a click
  Click,  // a click on the answer's button
};

inline const char* BoxCloseName(TBoxClose how) {
  return how == TBoxClose::Keys ? "keys" : "click";
}

class TRealMessageBoxes {
 public:
  // Takes the test's scripted service out of the program's services and puts it back when done.
  explicit TRealMessageBoxes(TBoxClose how = TBoxClose::Keys) {
    auto service = std::make_unique<TService>(*this);
    previous_ = std::exchange(Services().Messages, std::move(service));
    script_ = dynamic_cast<TScriptedMessages*>(previous_.get());
    if (script_ == nullptr) ADD_FAILURE() << "the test has no scripted message service";
    How = how;
  }
  ~TRealMessageBoxes() { Services().Messages = std::move(previous_); }
  TRealMessageBoxes(const TRealMessageBoxes&) = delete;
  TRealMessageBoxes& operator=(const TRealMessageBoxes&) = delete;

  TBoxClose How = TBoxClose::Keys;
  int Answered = 0;  // boxes closed by the operator's key or click

 private:
  static constexpr int kGiveUpMs = 5000;

  class TService : public TMessageService {
   public:
    explicit TService(TRealMessageBoxes& owner) : owner_(owner) {}
    TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton def) override {
      return owner_.Show(text, icon, buttons, def);
    }

   private:
    TRealMessageBoxes& owner_;
  };

  static QMessageBox::StandardButton Standard(TMsgButton b) {
    switch (b) {
      case mbYes:
        return QMessageBox::Yes;
      case mbNo:
        return QMessageBox::No;
      case mbOK:
        return QMessageBox::Ok;
      case mbCancel:
        return QMessageBox::Cancel;
    }
    return QMessageBox::NoButton;
  }

  TMsgButton Show(const QString& text, TMsgIcon icon, unsigned buttons, TMsgButton def) {
    const TMsgButton answer = script_ != nullptr ? script_->Show(text, icon, buttons, def) : def;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QElapsedTimer since;
    since.start();
    bool acted = false;
    // A local timer: the box's own loop runs it, and it ends with the box.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      const bool ours = box != nullptr && box->isVisible() && box->text() == shown;
      if (!ours || acted) {
        if (since.elapsed() > kGiveUpMs) {
          ADD_FAILURE() << (acted ? "the box did not close: " : "no box came up: ") << text.toStdString();
          poll.stop();
          if (ours) box->done(QMessageBox::Cancel);
        }
        return;
      }
      // The operator answers the box in front of him: it has taken the focus by then.
      if (QApplication::activeWindow() != box && since.elapsed() < kGiveUpMs / 2) return;
      acted = true;
      Answer(box, answer);
    });
    poll.start();
    const TMsgButton got = real_.Show(text, icon, buttons, def);
    EXPECT_TRUE(acted) << text.toStdString();
    EXPECT_EQ(got, answer) << text.toStdString();
    if (acted) ++Answered;
    return got;
  }

  void Answer(QMessageBox* box, TMsgButton answer) const {
    QAbstractButton* button = box->button(Standard(answer));
    if (button == nullptr) {
      ADD_FAILURE() << "the box has no button for the answer " << answer;
      box->done(QMessageBox::Cancel);
      return;
    }
    QWidget* focus = QApplication::focusWidget();
    QWidget* keys = focus != nullptr && box->isAncestorOf(focus) ? focus : box;
    if (How == TBoxClose::Keys && button == box->defaultButton())
      QTest::keyClick(keys, Qt::Key_Return);
    else if (How == TBoxClose::Keys && button == box->escapeButton())
      QTest::keyClick(keys, Qt::Key_Escape);
    else
      QTest::mouseClick(button, Qt::LeftButton);
  }

  TMessageBoxService real_;
  std::unique_ptr<TMessageService> previous_;
  TScriptedMessages* script_ = nullptr;
};

}  // namespace vexa::test
