#pragma once
// A picture of the main window as the user sees it: the window and, drawn over it where
// they stand, the dialogs and message boxes it has open (a grab of the window alone would
// leave out the question the user is being asked).

#include <QImage>

class QWidget;

QImage GrabWithDialogs(QWidget& window);
