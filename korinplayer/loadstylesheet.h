#ifndef KORIN_LOADSTYLESHEET_H
#define KORIN_LOADSTYLESHEET_H

#include <QString>

class QWidget;

// Sets the resource ":/qss/<name>" as the widget's style sheet; a missing or
// empty resource leaves the widget as it is.
void loadStyleSheet(const QString& name, QWidget* widget);

// Registers the player's compiled-in style sheets and icons (they live in a
// static library, so the program and the tests pull them in explicitly).
void initPlayerResources();

#endif
