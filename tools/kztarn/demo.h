// `kztarn demo`: a scripted tour of the library against the built-in module
// simulator. Returns the process exit code: 0 only if every step happened.
#pragma once

int RunDemo(int argc, char** argv);
