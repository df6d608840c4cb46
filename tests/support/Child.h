#pragma once
// A window's widgets and commands found as the operator knows them: by the name each is given
// where the window makes it. For windows only: it needs QtCore's object tree and gtest.

#include <gtest/gtest.h>

#include <QList>
#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace vexa::test {

// The one child (at any depth) of w of class T named `name`. None, or more than one, fails the
// test naming the window and the child, and throws so that the test ends there instead of
// following a null pointer.
template <class T>
T* Child(const QObject& w, const char* name) {
  const QString wanted = QString::fromLatin1(name);
  const QList<T*> found = w.findChildren<T*>(wanted);
  if (found.size() == 1) return found.front();
  const std::string what = std::string(T::staticMetaObject.className()) + " \"" + name + "\" in " +
                           w.metaObject()->className() + " \"" + w.objectName().toStdString() + '"';
  const std::string message = found.isEmpty() ? "no " + what : "more than one " + what;
  ADD_FAILURE() << message;
  throw std::logic_error(message);
}

}  // namespace vexa::test
