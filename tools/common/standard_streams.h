// The standard streams of a host tool. A descriptor from 0 to 2 that is
// closed at start is opened on /dev/null, so no file the tool opens takes
// its number (with standard output closed, the banner would land in the
// register trace). Standard output that failed a write, or fails its final
// flush and close, is an error: one line on standard error, exit status 2.
#pragma once

namespace datatools {

// First thing in main; `program` names the tool in the message.
void GuardStandardStreams(const char* program);

}  // namespace datatools
