// Output files that never pass for a result before they are one. A regular
// file (or a new name) is written under a hidden temporary name in the
// folder of the file it names, a symbolic link followed, and renamed over
// it once complete, so a run that fails or is stopped leaves any earlier
// file as it was. SIGINT, SIGTERM and SIGHUP remove the temporary file,
// print "Interrupted" and end the process by the same signal; SIGKILL or a
// power cut can leave only the hidden file. Anything else (a FIFO, a
// device, a path under /dev or /proc such as /dev/stdout) is written in
// place, as is a file whose folder does not let a new file be made.
#ifndef TOOLS_SDK_OUTPUT_FILE_H
#define TOOLS_SDK_OUTPUT_FILE_H

#include <cstdio>
#include <string>

struct OutputFile {
    FILE *file = nullptr;
    std::string path;   // as the user gave it
    std::string temp;   // the hidden file, empty when written in place
    std::string target; // what the temporary file becomes
    bool regular_in_place = false;  // removed when the run fails
};

// Opens the output for writing and installs the signal handlers; false
// when it cannot be created.
bool OutputFile_Open(OutputFile *o, const char *path);
// Whether the file can be repositioned (a regular file) so that its header
// is rewritten at the end.
bool OutputFile_Seekable(const OutputFile *o);
// Closes the file and puts it in place; false when that failed, after
// which nothing of it is left.
bool OutputFile_Commit(OutputFile *o);
// Closes the file and removes what the run wrote to a regular file.
void OutputFile_Discard(OutputFile *o);

#endif
