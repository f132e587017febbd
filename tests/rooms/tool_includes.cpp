// A file of the command-line tool that names a header of the unattended-run library by its
// bare name, and one that reaches into the demo: the include check must refuse both, and let
// the tool's own and the unattended library's pass.
#include "run_driver.h"
#include "tools/cli/program_run.h"
#include "tools/demo/demo_run.h"
#include "tools/unattended/run_driver.h"
