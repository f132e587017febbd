// A header of the link room that reaches up into the window: the include check must refuse it
// and name the offending include, and let the link's own and the interface's pass.
#include "link/serial_link.h"
#include "mainwindow/frmprog.h"
#include "seam/main_window.h"
