// The program's icon (drawn, so the program needs no image files).
#pragma once

#include <QIcon>

namespace app {
QIcon CorvaneIcon();
}  // namespace app
