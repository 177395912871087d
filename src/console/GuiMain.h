// The windowed front end, built when Qt is there (KESTREL_HAVE_GUI).
#pragma once

int RunGui(int argc, char** argv);
