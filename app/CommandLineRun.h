#pragma once
// Carries out --list, --modify, --help and --version without a window: no
// QApplication is constructed and no display is needed. The search, the
// receive worker, the device table and the modify broadcast are the ones the
// window uses; only the presentation differs.

#include <ostream>

#include "app/CommandLine.h"
#include "app/SearchDlgConfig.h"

namespace qdipc {

// Runs a command line whose mode is not Window and answers the exit code:
// 0 done, 1 the network failed, 2 a usage error (also an --interface that
// names no broadcast-capable IPv4 interface). The endpoints, the interfaces
// and the error log's directory come from config (the defaults are the
// window's own); its window-only members are not used.
int RunCommandLine(const CommandLine& commandLine, std::ostream& out, std::ostream& err,
                   const SearchDlgConfig& config = {});

// The list's cells as --list prints them: the raw bytes decoded the way the
// window decodes them (UTF-8, else GB18030), else escaped byte by byte.
std::string PrintableCell(std::string_view bytes);

}  // namespace qdipc
