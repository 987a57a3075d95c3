// Included once by the main file of every test program that runs threads
// through Qt, TBB or VTK.
//
// Qt, TBB and VTK come from the distribution, not built with ThreadSanitizer:
// their internal hand-overs (futex based thread pools, such as the one VTK's
// cell locator builds with) are invisible to it, so the memory calls these
// libraries make themselves are not checked. Every access made by our own code
// stays checked.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so\n"
         "called_from_lib:libQt6Gui.so\n"
         "called_from_lib:libQt6Widgets.so\n"
         "called_from_lib:libtbb.so\n"
         "called_from_lib:libvtkCommonCore\n";
}
#endif
