#pragma once
// The few file-system facts the programs need beyond standard streams, one file per platform:
// whether two names are one file, what kind of file a name holds, and an output file that has
// no name of its own until it is complete, so that a failed or killed run never leaves a
// plausible image, map or page behind.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class FileKind { Missing, Regular, Folder, Fifo, Device, Socket, Other };

struct FileIdentity {
  bool exists = false;
  bool regular = false;  // a plain file; devices and pipes are written in place
  FileKind kind = FileKind::Missing;
  uint64_t volume = 0;   // device, or the Windows volume serial number
  uint64_t file = 0;     // inode, or the Windows file index
};

// Follows symbolic links (stat, not lstat): a link names the file it leads to.
FileIdentity IdentifyFile(const char* path);

// The file an open stream writes to or reads from (a pipe and a terminal too, on POSIX systems).
FileIdentity IdentifyStream(FILE* stream);

// The file an open descriptor (of the C runtime on Windows) stands for: what was opened, whatever
// its name leads to by now.
FileIdentity IdentifyDescriptor(int fd);

// An input a script names. On Windows a name that is no file in the ANSI code page is looked
// up as UTF-8 too, the way OpenRegularFile opens it; elsewhere the same as IdentifyFile.
FileIdentity IdentifyInput(const char* path);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.exists && b.exists && a.volume == b.volume && a.file == b.file;
}

// "a folder", "a FIFO (named pipe)", ... for messages that say what a name is instead of a file.
inline const char* FileKindName(FileKind kind) {
  switch (kind) {
    case FileKind::Missing: return "missing";
    case FileKind::Regular: return "a regular file";
    case FileKind::Folder: return "a folder";
    case FileKind::Fifo: return "a FIFO (named pipe)";
    case FileKind::Device: return "a device";
    case FileKind::Socket: return "a socket";
    case FileKind::Other: break;
  }
  return "not a regular file";
}

// Why a name of this kind cannot be read as a file, in our own words: "there is no such file",
// "it is a folder", ...; for a regular file that would not open, the system's reason.
std::string UnreadableReason(FileKind kind);

// The folder part of a path ("." when there is none).
std::string FolderOf(const std::string& path);

// The folder of the running program, without a trailing separator; empty when unknown.
std::string ExecutableDirectory();

// A path named relative to folder, as seen from the working folder: path itself when it is
// absolute (or has a drive on Windows) or folder is ".".
std::string PathFrom(const std::string& folder, const std::string& path);

// Where a name leads, for the checks that keep two of a run's files apart (an output over an
// input, two outputs over each other). A file that exists is known by its identity, through
// any link or hard link; a name not yet created by its folder's identity and its own name
// (at the end of any link chain), so that two new outputs of one name are found as well.
struct FilePlace {
  FileIdentity file;
  FileIdentity folder;
  std::string base;
};

FilePlace PlaceOf(const std::string& path);

// Two names not yet created are one file when their folders are one and their own names match
// as the file system matches them: exactly on POSIX systems, regardless of ASCII letter case on
// Windows ("OUT.BIN" and "out.bin" are one file there).
bool SamePlace(const FilePlace& a, const FilePlace& b);

// Whether two names in one folder lead to one entry, folding ASCII case when foldCase.
bool SameEntryName(const std::string& a, const std::string& b, bool foldCase);

// Whether the system's file names ignore letter case (Windows); false elsewhere.
bool FileNamesFoldCase();

// The name at the end of a chain of symbolic links (also a dangling one); path itself when it
// is not a link. Replacing this name leaves every link on the way a link.
std::string LinkTarget(const std::string& path);

// The bytes of a file as they are on disk (no line-end translation). False when it cannot be
// opened or read.
bool ReadFileBytes(const std::string& path, std::string* bytes);

// Opens path for reading only when it is a regular file; otherwise null with *kind saying what
// it is (Missing when it cannot be opened). A FIFO is never waited on.
FILE* OpenRegularFile(const char* path, FileKind* kind);

// A new, empty file in the folder of target, opened "wb+". Where the system allows it the file
// has no name at all (it vanishes with the process, also when killed); otherwise it gets a
// hidden name beside target, returned in name, which the caller must remove. Null with the
// system's reason when the folder takes no new file.
FILE* CreateScratchBeside(const std::string& target, std::string* name, std::string* reason);

// Pushes stream's data to the disk, closes it and gives its file the name target in one step,
// with the permission bits of the file it replaces; then makes the new name itself durable.
// False with the system's reason when any step fails; the file is then removed.
bool CommitScratch(FILE* stream, const std::string& name, const std::string& target,
                   std::string* reason);

// Gives the file from the name to without ever replacing a file there: false with the system's
// reason (the name taken, for one) and from left as it was. The new name is made durable.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string* reason);

// Gives the file from the name to, replacing a file there in one step (Windows, unlike POSIX
// rename, refuses a name that is taken unless told). False with the system's reason.
bool RenameOver(const std::string& from, const std::string& to, std::string* reason);

// Closes stream and removes the file, named or not.
void DiscardScratch(FILE* stream, const std::string& name);

// Gives the file of stream its first size bytes on the disk without writing them (they read as
// zeros until written; a shorter file grows to size), so that a disk too full for them says so
// now rather than halfway through the writes. False, with nothing changed, where the file
// system or the platform cannot (a device, Windows): the caller then writes the bytes.
bool ReserveFileSpace(FILE* stream, int64_t size);

// Has the system start writing count bytes of stream's file from from to the disk, without
// waiting for them, so that the writes overlap the work still to come and the final sync waits
// for less. Buffered data is flushed first. Nothing where the platform offers no such request;
// a failure is no error: the final sync writes what is left.
void StartWriteBack(FILE* stream, int64_t from, int64_t count);

// A stream that keeps what is written to it in memory, for text that must wait for other text
// to be printed before it. Null where the platform has none (Windows): the caller then does
// without holding text back.
struct HeldText {
  FILE* stream = nullptr;
  char* buffer = nullptr;
  size_t size = 0;
};
bool HoldText(HeldText* held);

// Closes the held stream and gives what was written to it.
std::string ReleaseHeldText(HeldText* held);

// Sets a variable of the process's environment, for libraries that take their settings only
// from there. Not safe while another thread reads the environment: call it once, early.
void SetProcessVariable(const char* name, const char* value);
// Removes an environment variable of this process, for itself and the libraries it loads.
void RemoveProcessVariable(const char* name);

// The text of the system's last error (errno, or GetLastError on Windows).
std::string LastSystemError();

#ifdef _WIN32
// A name as the wide calls of Windows take it, for libraries that open files themselves. Names
// in scripts are UTF-8; one that is not (a name from the command line, or a script saved in the
// ANSI code page) is read in that code page, as the narrow calls read it.
std::wstring WidePath(const std::string& path);
#endif

// A reader of standard output that goes away (qs71prog ... | head, qs71dump ... | head) must
// not end the program silently: a write to it then fails with its reason, which the program
// reports, instead of raising SIGPIPE. Call it first in main, before any thread is started.
void IgnoreBrokenPipes();

// A program started with standard input, output or error closed (by a service manager, or
// `>&-`) would hand that number to the next file it opens, and its messages would land in an
// image, a chip file or a log. Each closed one is opened on the null device instead. Call it
// first in main.
void OpenMissingStandardStreams();

// Whether a file read in text mode ends at its first Ctrl-Z byte, as the Windows C runtime
// reads it.
bool TextReadsStopAtCtrlZ();

// When the process is interrupted or told to end (Ctrl-C, SIGTERM, SIGHUP, a closed console),
// removes every scratch file that CreateScratchBeside or CommitScratch has given a name and not
// yet renamed or removed, calls cleanup once (when not null), then ends the process as that
// signal would. A signal ignored when this is called stays ignored. A null cleanup keeps the one
// given before: a writer that only needs its scratch files removed leaves a caller's cleanup be.
void OnTermination(void (*cleanup)());

// Where an output's bytes go: in place (a device, a pipe, or a name that a link leads through
// without a plain file at its end), or a rebuilt file at target, the end of any link chain.
struct Destination {
  bool inPlace = false;
  bool existed = false;
  std::string target;
};

Destination DestinationOf(const std::string& output);

// A path as one word of a command that a hint suggests, quoted for the shell the user pastes
// it into: a POSIX shell here, cmd.exe on Windows.
std::string HintPath(const std::string& path);

// A whole command for the user to paste, each word quoted as HintPath quotes it.
std::string HintCommand(const std::vector<std::string>& words);
