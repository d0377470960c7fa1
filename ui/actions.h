// A menu command as Korvel's windows make them: its caption, its object name (which the
// tests find it by) and its shortcut key.
#pragma once

#include <QAction>
#include <QKeySequence>
#include <QString>

inline QAction* makeAction(QObject* parent, const QString& caption, const char* name,
                           const QKeySequence& key) {
  auto* action = new QAction(caption, parent);
  action->setObjectName(QLatin1String(name));
  action->setShortcut(key);
  return action;
}
