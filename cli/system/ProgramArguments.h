#pragma once

#include <string>
#include <vector>

namespace brintel::cli {

// The command line in UTF-8, program name first: on Windows from the wide
// command line, since the narrow one loses every character outside the
// system's code page (a program named in Chinese on an English Windows).
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace brintel::cli
