/*
 * qs71_usb_writer - programs the OTP memory of a QS71 voice chip through the QS71 USB
 * programmer (a HID device, vendor 0x04D8, product 0xFE08, release 0x0101).
 *
 * The library exports Qs71UsbWriter, one programming job, and Qs71UsbVerifyRange, one
 * range of the OTP compared, for a host that wants to know where a part differs; for a host
 * with several programmers, Qs71UsbListProgrammers and the variants of both that name the
 * programmer, Qs71UsbWriterOn and Qs71UsbVerifyRangeOn; and the same two with the image in
 * memory and a result structure, Qs71UsbJob and Qs71UsbCompareRange; Qs71UsbHold and
 * Qs71UsbRelease, which keep a programmer for this process across calls; and for a host that
 * names each programmer by its device rather than its path, Qs71UsbListIdentities,
 * Qs71UsbHoldProgrammer and Qs71UsbReleaseProgrammer (below). All are plain C
 * with the cdecl calling convention and undecorated names, so
 * that any host (C, C++, a .NET or Delphi front end on 32-bit Windows) can bind them by
 * name.
 *
 * Types crossing the boundary:
 *   int32_t       the result and the caller-owned cells (int on every supported target)
 *   uint32_t      OTP addresses and lengths in bytes
 *   qs71_bool     one byte; a selection counts as set when it is non-zero. It is passed
 *                 exactly like C++ bool or C _Bool, so hosts may declare those instead.
 *   double        voltages in volts, IEEE-754 double precision
 *   const char*   NUL-terminated path of the image file, in the platform's narrow encoding
 */
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#  if defined(QS71_USB_WRITER_BUILDING)
#    define QS71_USB_WRITER_API __declspec(dllexport)
#  else
#    define QS71_USB_WRITER_API __declspec(dllimport)
#  endif
#else
#  define QS71_USB_WRITER_API __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && !defined(_WIN64)
#  define QS71_CDECL __cdecl
#else
#  define QS71_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t qs71_bool;

/* Values of the stage cell while a call runs. */
enum Qs71Stage {
  QS71_STAGE_IDLE = 0,        /* starting or stopping the OTP test, identifying the chip */
  QS71_STAGE_BLANK_CHECK = 1,
  QS71_STAGE_WRITE = 2,
  QS71_STAGE_VERIFY = 3
};

/* Result codes: 0 for success, otherwise the code of the first step that failed. */
enum Qs71Result {
  QS71_OK = 0,
  QS71_E_ECHO_60 = -10,        /* reply to 0x60 does not echo the command */
  QS71_E_ECHO_62 = -11,        /* reply to 0x62 does not echo the command */
  QS71_E_ECHO_64 = -12,        /* reply to 0x64 does not echo the command */
  QS71_E_ECHO_66 = -13,        /* reply to 0x66 does not echo the command */
  QS71_E_ECHO_68 = -14,        /* reply to 0x68 does not echo the command */
  QS71_E_TRANSPORT = -20,      /* programmer not open, or a report not written or not read */
  QS71_E_ECHO = -30,           /* reply does not echo the command (all other commands) */
  QS71_E_CHECK_WORDS = -31,    /* reply to 0x01 lacks its check words */
  QS71_E_FILE = -40,           /* image file cannot be opened, read-back file not created */
  QS71_E_OTP_ID = -50,         /* chip ID bytes 0 and 1 are not 0x6D 0x61 */
  QS71_E_SIZE_CODE = -51,      /* chip size code unknown */
  QS71_E_FILE_SIZE = -52,      /* image file size differs from the OTP size */
  QS71_E_READ_SIZE = -53,      /* invalid read range size */
  QS71_E_VERIFY_SIZE = -54,    /* invalid verify range size */
  QS71_E_WRITE_SIZE = -55,     /* invalid write range size */
  QS71_E_MISMATCH = -56,       /* system area not blank (blank check) or data mismatch (verify) */
  QS71_E_NOT_BLANK = -57,      /* main area not blank */
  QS71_E_SYSTEM_AREA = -58,    /* the chip's system area is invalid */
  QS71_E_STATUS = -59          /* reply status byte is not the expected one */
};

/*
 * One programming job: open the programmer, start the OTP test, identify the chip, then the
 * selected steps in the fixed order blank check, write, verify; stop the OTP test, close.
 *
 *   stage, progress, otpSize  caller-owned cells, all must be valid. stage and progress are
 *                             written with single aligned 32-bit stores during the call, so a
 *                             host may poll them from another thread; otpSize receives the
 *                             chip's size in bytes (0 when it could not be identified).
 *   blankCheck, blankCheckVdd check that the OTP is blank, at that supply voltage (volts)
 *   write, writeVdd, writeVpp program imageFile, at that supply and programming voltage
 *   verify, verifyVdd         compare the OTP with imageFile
 *   clearMarker               when writing, clear the image's marker byte (31 bytes before
 *                             its end) to 0x00 in memory before it is programmed
 *   imageFile                 raw image of exactly the chip's OTP size; read only when
 *                             write or verify is set (NULL then fails with QS71_E_FILE)
 *
 * Progress and error messages go to standard output. Calls on one programmer must not
 * overlap; calls on different ones may (see the calls for several programmers below).
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriter(
    int32_t* stage, int32_t* progress, int32_t* otpSize,
    qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp,
    qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile);

/* For hosts that load the library at run time (dlsym / GetProcAddress "Qs71UsbWriter"). */
typedef int32_t(QS71_CDECL* Qs71UsbWriterFunction)(
    int32_t* stage, int32_t* progress, int32_t* otpSize,
    qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp,
    qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile);

/* Results of Qs71UsbVerifyRange besides the negative codes of Qs71Result. */
enum Qs71RangeResult {
  QS71_RANGE_MATCHES = 0,
  QS71_RANGE_DIFFERS = 1
};

/*
 * One range of the OTP compared, as a job of its own: open the programmer, start the OTP
 * test, identify the chip, compare the range, stop the OTP test, close.
 *
 *   otpSize       receives the chip's size in bytes, as Qs71UsbWriter's cell does; may be NULL
 *   start, length the range in bytes: both multiples of 256, length at least 256, and the
 *                 range within the part; otherwise QS71_E_VERIFY_SIZE once the part is known
 *   vdd           supply voltage in volts for the comparison
 *   imageFile     raw image of exactly the chip's OTP size, whose bytes start..start+length-1
 *                 the range is compared with; NULL compares with a blank part instead, as the
 *                 blank check does
 *
 * Result: QS71_RANGE_MATCHES (0), QS71_RANGE_DIFFERS (1), or the negative code of the step
 * that failed (QS71_E_FILE, QS71_E_FILE_SIZE, QS71_E_TRANSPORT, ...).
 *
 * The main area is compared by the programmer, 32 bytes a report, as Qs71UsbWriter's verify
 * and blank check compare it; nothing of it is read back. Where the range reaches the system
 * area (the last 512 bytes), that area is read back and compared after masking, as they do.
 * So the whole part, 0 to otpSize, differs exactly when that verify or blank check fails.
 *
 * Standard output: nothing while every step goes as planned, whether the range matches or
 * differs, since a host narrowing down a difference calls this many times. A failing step
 * prints its message as Qs71UsbWriter prints it (for example "Failed to start OTP test!!
 * (-20)"), and a failure to stop the OTP test is printed as well; a range that does not fit
 * prints "[ERROR] Invalid OTP verify range <length> bytes at 0x<start>!". Calls on one
 * programmer must not overlap, with each other or with Qs71UsbWriter.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRange(
    int32_t* otpSize, uint32_t start, uint32_t length, double vdd, const char* imageFile);

/* For hosts that load the library at run time (dlsym / GetProcAddress "Qs71UsbVerifyRange"). */
typedef int32_t(QS71_CDECL* Qs71UsbVerifyRangeFunction)(
    int32_t* otpSize, uint32_t start, uint32_t length, double vdd, const char* imageFile);

/*
 * Several programmers on one host. Qs71UsbWriter and Qs71UsbVerifyRange open the first
 * programmer; the calls below list the attached programmers and name the one a job runs on.
 * Calls on different programmers may run at the same time, from different threads; calls on
 * the same programmer must not overlap.
 *
 * "The first programmer", wherever a call names none (NULL or "" for a path, Qs71UsbWriter,
 * Qs71UsbHold(NULL) and Qs71UsbRelease(NULL) alike), is the first that
 * Qs71UsbListProgrammers lists at the moment of the call: the one with the lowest path.
 */

/* One attached programmer, as Qs71UsbListProgrammers reports it. */
typedef struct Qs71ProgrammerInfo {
  char path[256];   /* the platform's device path, NUL-terminated: names the programmer */
  char serial[64];  /* its USB serial number in UTF-8, "" when it has none */
  uint16_t release; /* its release number (bcdDevice), 0x0101 for the current programmer */
} Qs71ProgrammerInfo;

/*
 * Lists the attached programmers, ordered by path, into list (at most capacity entries; list
 * may be NULL when capacity is 0). Returns how many are attached, which may exceed capacity,
 * or QS71_E_TRANSPORT when the devices cannot be listed. Prints nothing. A device whose path
 * does not fit the entry (255 bytes) could not be named, and is not listed.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbListProgrammers(Qs71ProgrammerInfo* list,
                                                              int32_t capacity);

typedef int32_t(QS71_CDECL* Qs71UsbListProgrammersFunction)(Qs71ProgrammerInfo* list,
                                                           int32_t capacity);

/*
 * A programmer is its device, known by two things: the device node's own identity and its
 * serial. A path only says where a node is now: on Linux hidraw gives a freed /dev/hidrawN to
 * the next device plugged in, so a replacement programmer may appear at the lost one's path;
 * and programmers whose firmware reports one fixed serial are told apart only by their nodes.
 * Qs71UsbListIdentities lists the programmers with their nodes; the calls that take a
 * Qs71ProgrammerIdentity (Qs71UsbHoldProgrammer, Qs71UsbReleaseProgrammer, and Qs71UsbJob and
 * Qs71UsbCompareRange through their requests' identity field) run on exactly that device: each
 * opens the programmer at info.path and checks, before its hold, after its hold and after it
 * opened the device, that the device there has this node and this serial. A device that does
 * not is another one, and is refused with QS71_E_REPLACED before anything is sent to it; a
 * device gone from the path fails as a missing programmer does (QS71_E_TRANSPORT).
 *
 *   node  Linux: "inode 5:11165717", the device and inode of the hidraw node (a node removed
 *         and made again at the same path is another node); Windows: the device instance ID
 *         ("HID\VID_04D8&PID_FE08\7&2A1B3C4D&0&0000"); the emulated library: "emulated 2",
 *         the programmer's number on its bus (with "/GENERATION" when the bus makes its node
 *         again). Compare it as a whole: its form is for people. "" when it cannot be read.
 */
typedef struct Qs71ProgrammerIdentity {
  Qs71ProgrammerInfo info;  /* path, serial and release, as Qs71UsbListProgrammers gives them */
  char node[256];           /* the device node's own identity, NUL-terminated */
} Qs71ProgrammerIdentity;

/*
 * Qs71UsbListProgrammers with each programmer's node: the same programmers in the same order,
 * the same counts and codes.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbListIdentities(Qs71ProgrammerIdentity* list,
                                                             int32_t capacity);

typedef int32_t(QS71_CDECL* Qs71UsbListIdentitiesFunction)(Qs71ProgrammerIdentity* list,
                                                          int32_t capacity);

/* Receives, in order, each piece of text a call would print to standard output. */
typedef void(QS71_CDECL* Qs71OutputFunction)(void* context, const char* text);

/*
 * Qs71UsbWriter on one programmer. programmer is a path from Qs71UsbListProgrammers (NULL or
 * "" for the first programmer, as Qs71UsbWriter). output receives the call's text
 * instead of standard output, with context as its first argument; NULL prints to standard
 * output. Everything else is as Qs71UsbWriter: the same steps, cells, messages and result
 * codes; a programmer that is not attached fails as a missing programmer does (-20).
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriterOn(
    const char* programmer, Qs71OutputFunction output, void* context,
    int32_t* stage, int32_t* progress, int32_t* otpSize,
    qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp,
    qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile);

typedef int32_t(QS71_CDECL* Qs71UsbWriterOnFunction)(
    const char* programmer, Qs71OutputFunction output, void* context,
    int32_t* stage, int32_t* progress, int32_t* otpSize,
    qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp,
    qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile);

/* Qs71UsbVerifyRange on one programmer, programmer and output as for Qs71UsbWriterOn. */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRangeOn(
    const char* programmer, Qs71OutputFunction output, void* context,
    int32_t* otpSize, uint32_t start, uint32_t length, double vdd, const char* imageFile);

typedef int32_t(QS71_CDECL* Qs71UsbVerifyRangeOnFunction)(
    const char* programmer, Qs71OutputFunction output, void* context,
    int32_t* otpSize, uint32_t start, uint32_t length, double vdd, const char* imageFile);

/*
 * Jobs with data in and data out. The calls above read the image by name for every step and
 * report by text; a host that judged and hashed an image must be sure that the bytes it
 * judged are the bytes programmed, and must learn what happened without reading what was
 * printed. Qs71UsbJob takes the image as bytes and fills a Qs71JobResult. The text it gives
 * the output function is the text Qs71UsbWriterOn prints, for people only.
 *
 * The structures carry their own size, set by the caller to sizeof the structure it was
 * compiled with, so that later fields can be added: the library reads and writes only what
 * that size covers, and refuses a size smaller than the first version's with
 * QS71_E_ARGUMENT (the first Qs71JobRequest ends with cancel, the first Qs71JobResult with
 * matched). A refused call touches nothing but result->result, where its size covers that.
 */

/* The steps of a job, for Qs71JobResult.lastStep, failedStep, stepsDone and seconds. */
enum Qs71Step {
  QS71_STEP_NONE = 0,        /* nothing reached (failedStep: nothing failed) */
  QS71_STEP_OPEN = 1,        /* open the programmer and start the OTP test */
  QS71_STEP_IDENTIFY = 2,    /* read the chip ID and the system area */
  QS71_STEP_BLANK_CHECK = 3,
  QS71_STEP_WRITE = 4,
  QS71_STEP_VERIFY = 5,
  QS71_STEP_COMPARE = 6,     /* the range of Qs71UsbCompareRange */
  QS71_STEP_STOP = 7,        /* stop the OTP test, close the programmer */
  QS71_STEP_COUNT = 8
};

/* Result codes of the job calls besides those of Qs71Result. */
enum Qs71JobCode {
  QS71_E_CANCELLED = -60,    /* the cancel cell was set; the job stopped before a chunk or
                                a step */
  QS71_E_ARGUMENT = -61      /* a NULL structure, a size too small, or no image where a step
                                needs one */
};

/*
 * Result codes of every call that opens a programmer. A programmer has one holder at a time:
 * each call holds the programmer it opens from before its first report until it closes it,
 * and Qs71UsbHold keeps the hold across calls. A call that cannot take the hold sends
 * nothing, prints one message and returns one of these; Qs71UsbJob and Qs71UsbCompareRange
 * name QS71_STEP_OPEN as the failed step.
 *
 *   QS71_E_BUSY  "[ERROR] Programmer busy: process 4711 (qs71prog) holds it! (-62)": another
 *                process holds the programmer (on Windows "another process": the system does
 *                not name it)
 *   QS71_E_HOLD  "[ERROR] Cannot hold the programmer: /dev/hidraw3: Permission denied! (-63)":
 *                the hold could not be taken, for the system's reason; the call is refused
 *                rather than run unguarded
 *   QS71_E_REPLACED  "[ERROR] Programmer replaced: /dev/hidraw3 is not the device named
 *                (serial QS71-0043, inode 5:11165722)! (-64)": a call that named the device
 *                itself (Qs71ProgrammerIdentity) found another one at its path; for the host
 *                its programmer is lost
 */
enum Qs71HoldCode {
  QS71_E_BUSY = -62,
  QS71_E_HOLD = -63,
  QS71_E_REPLACED = -64
};

typedef struct Qs71JobRequest {
  uint32_t size;                 /* sizeof(Qs71JobRequest) */
  const char* programmer;        /* a path from Qs71UsbListProgrammers; NULL or "" for the
                                    first programmer */
  qs71_bool blankCheck;
  qs71_bool write;
  qs71_bool verify;
  qs71_bool clearMarker;         /* as Qs71UsbWriter's; the caller's bytes are not changed */
  double blankCheckVdd;
  double writeVdd;
  double writeVpp;
  double verifyVdd;
  const uint8_t* image;          /* the image, exactly the chip's OTP size; read only during
                                    the call and only when write or verify is set */
  uint32_t imageLength;          /* its length in bytes */
  Qs71OutputFunction output;     /* receives the call's text; NULL prints to standard output */
  void* context;                 /* output's first argument */
  const volatile int32_t* cancel; /* may be NULL; when the cell becomes non-zero the job
                                    stops before its next chunk or step, prints
                                    "[ERROR] Job cancelled!", stops the OTP test and
                                    returns QS71_E_CANCELLED */
  const char* imageName;         /* the name the text gives the image, as Qs71UsbWriterOn
                                    gives the file's ("Import File: <imageName>"); NULL
                                    leaves that line out. Read only when size covers it. */
  const Qs71ProgrammerIdentity* identity; /* the device itself, from Qs71UsbListIdentities;
                                    when not NULL (and size covers it) the job runs on that
                                    device only, and programmer is not read: another device
                                    at its path is refused with QS71_E_REPLACED */
} Qs71JobRequest;

typedef struct Qs71JobResult {
  uint32_t size;                 /* sizeof(Qs71JobResult), set by the caller */
  int32_t result;                /* as returned: 0, a Qs71Result or Qs71JobCode code, or for
                                    a range compare QS71_RANGE_DIFFERS */
  uint8_t chipId[4];             /* the four ID bytes as the chip reported them (0xFF each
                                    when it did not answer) */
  int32_t otpSize;               /* the part's size in bytes, 0 when not identified */
  int32_t stage;                 /* the Qs71Stage under way, and the last OTP address */
  int32_t progress;              /* transferred (folded into the part), as Qs71UsbWriter's
                                    cells: written with single aligned 32-bit stores, so
                                    that a host may poll them from another thread */
  int32_t lastStep;              /* Qs71Step: the last step begun, written as stage is */
  int32_t failedStep;            /* Qs71Step that failed first, QS71_STEP_NONE when none
                                    did; a stop that fails after a passing job leaves
                                    result 0 and names QS71_STEP_STOP here */
  uint32_t stepsDone;            /* bit (1 << step) for every step that completed */
  double seconds[QS71_STEP_COUNT]; /* time spent in each step, 0 for steps not run */
  qs71_bool matched;             /* Qs71UsbCompareRange: 1 when the range matched */
} Qs71JobResult;

/*
 * One programming job on one programmer: the steps, messages and result codes of
 * Qs71UsbWriterOn, with the image taken from request->image instead of a file. Returns
 * result->result. Calls on one programmer must not overlap; calls on different programmers
 * may run on different threads.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbJob(const Qs71JobRequest* request,
                                                  Qs71JobResult* result);

typedef int32_t(QS71_CDECL* Qs71UsbJobFunction)(const Qs71JobRequest* request,
                                               Qs71JobResult* result);

typedef struct Qs71RangeRequest {
  uint32_t size;                 /* sizeof(Qs71RangeRequest) */
  const char* programmer;        /* as in Qs71JobRequest */
  uint32_t start;                /* the range, as Qs71UsbVerifyRange's */
  uint32_t length;
  double vdd;
  const uint8_t* image;          /* the image the range is compared with, the chip's OTP size;
                                    NULL compares with a blank part */
  uint32_t imageLength;
  Qs71OutputFunction output;
  void* context;
  const volatile int32_t* cancel; /* as in Qs71JobRequest */
  const Qs71ProgrammerIdentity* identity; /* as in Qs71JobRequest; read only when size
                                    covers it */
} Qs71RangeRequest;

/*
 * Qs71UsbVerifyRangeOn with the image as bytes: the same steps, texts and results
 * (QS71_RANGE_MATCHES, QS71_RANGE_DIFFERS or a negative code); result->matched tells
 * whether the range matched, and the rest of the result is filled as by Qs71UsbJob (stage and
 * progress stay 0: a range is not one of the stages).
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbCompareRange(const Qs71RangeRequest* request,
                                                           Qs71JobResult* result);

typedef int32_t(QS71_CDECL* Qs71UsbCompareRangeFunction)(const Qs71RangeRequest* request,
                                                         Qs71JobResult* result);

/*
 * A production run holds its programmer from its first part to its last, so that no other
 * host slips in between two calls. Qs71UsbHold takes the hold of the programmer (a path from
 * Qs71UsbListProgrammers; NULL or "" for the first programmer) for this process until
 * Qs71UsbRelease or the end of the process, however it ends. Calls of this process on that
 * programmer then go through, from any thread; other processes, of any user, are refused
 * with QS71_E_BUSY. Holding a programmer this process holds already is 0 again, and one
 * Qs71UsbRelease lets go of it.
 *
 * A hold is of the device, kept by its node, never by a path: once the node at a path is
 * another (the programmer unplugged and another plugged in, or its node made again), what
 * this process held there is not held by it any more; the new device is held afresh, by the
 * same rules, by whoever asks first.
 *
 * Qs71UsbHold returns 0, QS71_E_BUSY, QS71_E_HOLD, or QS71_E_TRANSPORT when no such
 * programmer is attached. why (may be NULL) receives, NUL-terminated and cut to whyCapacity
 * bytes, the text for a person: the holder ("process 4711 (qs71prog)", "another process") or
 * the system's reason; "" on success. Prints nothing.
 *
 * Qs71UsbRelease returns 0, or QS71_E_ARGUMENT when this process does not hold that
 * programmer (NULL or "": the first programmer). A path releases the hold taken at that path,
 * also when its node has gone since.
 *
 * A child process made by fork() without exec holds nothing, whatever its parent held: the
 * child's calls take their own hold as any other process's do, so while the parent holds a
 * programmer the child is refused with QS71_E_BUSY naming the parent, and once the parent
 * lets go the programmer is free for anyone, the child included. (The library lets go of the
 * child's copies of the parent's descriptors in the child, which leaves the parent's locks
 * alone.) A host that forks workers, Python's multiprocessing among them, takes the hold in
 * the worker that drives the programmer.
 *
 * The emulated programmer is held through the files it keeps its parts in (the chip file,
 * the socket's part files and folders); one without a file has nothing to share and is held
 * trivially.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbHold(const char* programmer, char* why,
                                                   uint32_t whyCapacity);

typedef int32_t(QS71_CDECL* Qs71UsbHoldFunction)(const char* programmer, char* why,
                                                uint32_t whyCapacity);

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbRelease(const char* programmer);

typedef int32_t(QS71_CDECL* Qs71UsbReleaseFunction)(const char* programmer);

/*
 * Qs71UsbHold and Qs71UsbRelease of the device itself (Qs71UsbListIdentities): the hold is
 * taken only of the device with that node and serial, and refused with QS71_E_REPLACED when
 * another stands at its path; the release lets go of that device's hold (QS71_E_ARGUMENT when
 * this process does not hold it), wherever it is now or whether it is gone.
 */
QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbHoldProgrammer(
    const Qs71ProgrammerIdentity* programmer, char* why, uint32_t whyCapacity);

typedef int32_t(QS71_CDECL* Qs71UsbHoldProgrammerFunction)(
    const Qs71ProgrammerIdentity* programmer, char* why, uint32_t whyCapacity);

QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbReleaseProgrammer(
    const Qs71ProgrammerIdentity* programmer);

typedef int32_t(QS71_CDECL* Qs71UsbReleaseProgrammerFunction)(
    const Qs71ProgrammerIdentity* programmer);

#ifdef __cplusplus
}
#endif
