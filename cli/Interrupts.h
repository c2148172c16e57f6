#pragma once

namespace ombrel {

// Makes SIGINT, SIGTERM and SIGHUP end the batch tool cleanly: the handler removes the named
// temporary files of outputs not yet committed (ReplacingFile::removeTemporaries; unnamed ones
// vanish with the process anyway) and the staging folders of folders written whole
// (StagedFolder::removeTemporaries), so the previous files and folders stay as they were and
// nothing partial is left beside them, then ends the process with status 128 + the signal number,
// as a shell reports a command killed by that signal. A signal that is ignored when the tool starts
// (SIGHUP under nohup, SIGINT for a background job) stays ignored. For the program's main(): the
// handler is process-wide.
void installInterruptHandlers();

} // namespace ombrel
