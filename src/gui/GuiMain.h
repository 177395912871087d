// The windowed front end, built when Qt is there (KESTREL_HAVE_GUI).
#pragma once

namespace kestrel {
struct TCommandLine;
}

// `line` is the command line as parsed before the toolkit started.
int RunGui(int argc, char** argv, const kestrel::TCommandLine& line);
