// The program's icon (drawn, so the program needs no image files).
#pragma once

#include <QIcon>

QIcon CorvaneIcon();
