// Small helpers the windows share to build their controls the same way: the object name is the
// control's name, the hint its tooltip.
#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

namespace kestrel {

inline QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption,
                               const char* hint) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(QString::fromLatin1(hint));
  button->setAutoDefault(false);
  return button;
}

}  // namespace kestrel
