// Every message that crosses between the board (beside the module) and the
// host (tapsim). Plain fixed-width types only, the same layout on the 32-bit
// receiver board and the 64-bit PC board; no host type ever reaches the board.
//
// The board posts calls into a single-producer, single-consumer ring in
// shared memory and moves its tail; the host reads and moves the head. A call
// whose answer the board needs rings the call bell (a pipe) and waits on the
// answer bell; calls whose result the module ignores are only posted.
// Keys travel the other way in a small event ring.
#pragma once
#include <stdint.h>

#define WIRE_MAGIC 0x42515752u  // "RWQB"
#define WIRE_VERSION 3u

#define WIRE_CALL_RING_BYTES (1u << 20)
#define WIRE_EVENT_SLOTS 1024u
#define WIRE_DATA_BYTES 65536u
#define WIRE_MAX_PAYLOAD 61440u  // longer texts are cut; no call needs more
#define WIRE_PRINT_MOST 57344u   // the most one TAP_Print shows; its format gets the rest
#define WIRE_ARGS 12u

// Each call's number and the arguments it carries, in order; pointers are two
// words, low first (the board is 32-bit on the receiver, 64-bit on the PC).
enum WireCall {
  WIRE_PAD = 0,                 // filler to the ring's end
  WIRE_OSD_CREATE = 1,          // x y width height lut flags                    -> region
  WIRE_OSD_FILLBOX = 2,         // region x y width height colour
  WIRE_OSD_PUTS = 3,            // region x y maxX fg bg font size dotted align null; text
  WIRE_OSD_SYNC = 4,            // page (the module's pagenumber, 0 if none)
  WIRE_OSD_DELETE = 5,          // region
  WIRE_CHANNEL_GETCURRENT = 6,  //                                                 -> first second
  WIRE_CHANNEL_STOP = 7,        // main
  WIRE_CHANNEL_START = 8,       // main first second
  WIRE_SYSTEMPROC = 9,          // waiting hasRemoteType remoteType             -> WireTurn when waiting
  WIRE_SPRINT = 10,             // buffer(2) length formatNull; format NUL text
  WIRE_PRINT = 11,              // shown formatNull formatted; format (perhaps cut) NUL text (shown bytes)
  WIRE_SLEEP = 12,              // duration
  WIRE_MEMALLOC = 13,           // size block(2)                                   -> granted
  WIRE_MEMFREE = 14,            // block(2)                                        -> known
  WIRE_GETSYSTEMID = 15,        // result the board gave
  WIRE_GETVERSION = 16,         // result the board gave
  WIRE_HDD_EXIST = 17,          // null; name                                         -> result
  WIRE_HDD_FOPEN = 18,          // null; name                                         -> handle
  WIRE_HDD_FLEN = 19,           // handle(2)                                       -> length
  WIRE_HDD_FREAD = 20,          // buffer(2) blockSize count handle(2)             -> result bytes; data
  WIRE_HDD_FCLOSE = 21,         // handle(2)
  WIRE_HDD_CHANGEDIR = 22,      // null; path                                      -> result moved; data: directory
  WIRE_FREAD_MORE = 23,         // offset                                          -> bytes in data
  // What the board itself reports.
  WIRE_HELLO = 40,              // pointer width in bytes                        -> data: current directory
  WIRE_LOADED = 41,             // headerValue appId base(2); header NUL name NUL version NUL author NUL description NUL date
  WIRE_LOAD_FAILED = 42,        // ; reason
  WIRE_EVENT = 43,              // event param1 param2
  WIRE_EVENT_RESULT = 44,       // event param1 param2 result
  WIRE_MAIN_STARTED = 45,
  WIRE_MAIN_RETURNED = 46,      // result
  WIRE_KEY_HANDLING = 47,       // who (WireKeyHandler) hasRemoteType remoteType
  WIRE_PTS_WRITE = 49,          // terminal; bytes
  WIRE_EXIT = 50,               // code how (WireExitKind)
  WIRE_CRASH = 51,              // WireSignal address(2) siCode pc(2) sp(2) ra(2) stackAt(2); the stack's bytes from stackAt
  WIRE_STOPPED = 53,            // the board ends as the host asked (the keys ran out)
  WIRE_AWAITING_DEBUGGER = 54,  // the module is loaded; its start-up entry waits for a debugger to attach
  WIRE_DEBUGGER_ATTACHED = 55,  // one has, and let the board go on
  WIRE_REFUSED = 56,            // ; a C library call the sandbox refused, with its argument: open("/etc/passwd")
};

// Signals by a number of their own: the receiver's kernel numbers some of them
// differently from the PC's (SIGBUS, SIGSYS, SIGXCPU).
enum WireSignal {
  WIRE_SIGNAL_OTHER = 0,
  WIRE_SIGNAL_SEGV = 1,
  WIRE_SIGNAL_BUS = 2,
  WIRE_SIGNAL_ILL = 3,
  WIRE_SIGNAL_FPE = 4,
  WIRE_SIGNAL_ABRT = 5,
  WIRE_SIGNAL_TRAP = 6,
  WIRE_SIGNAL_SYS = 7,
  WIRE_SIGNAL_XCPU = 8,
};

enum WireKeyHandler { WIRE_HANDLER_OWN = 0, WIRE_HANDLER_HOOK = 1, WIRE_HANDLER_OTHER = 2 };
enum WireExitKind { WIRE_EXIT_EXIT = 0, WIRE_EXIT_UNDERSCORE = 1, WIRE_EXIT_CAPITAL = 2 };

// Answers to a SystemProc that waited.
enum WireTurn { WIRE_TURN_EVENT = 0, WIRE_TURN_NONE = 1, WIRE_TURN_STOP = 2 };

// One posted call: a fixed head, then `size` bytes of text, padded to 4.
struct WireMessage {
  uint32_t call;
  uint32_t size;
  uint32_t arg[WIRE_ARGS];
};

struct WireEvent {
  uint32_t event, param1, param2;
};

// The shared memory: one mapping of this, made by the host.
struct WireShared {
  uint32_t magic, version;
  // Set by the host before the board starts.
  uint32_t systemId, firmwareVersion;
  uint32_t openTerminals;  // bit n: /dev/pts/n opens
  uint32_t staleDlerror;   // leave a failed lookup's error unread before the module starts
  uint32_t memoryLimit;    // the most one allocation may ask for
  uint32_t roomWanted;     // set by the board when the ring is full; the host wakes it once drained
  uint32_t awaitDebugger;  // stop before the start-up entry until a debugger attaches
  uint32_t reserved[7];
  // Calls: the board writes at tail, the host reads at head (byte offsets, free-running).
  uint32_t callHead;
  uint32_t pad0[15];
  uint32_t callTail;
  uint32_t pad1[15];
  // Keys: the host writes at tail, the board reads at head (slots, free-running).
  uint32_t eventHead;
  uint32_t pad2[15];
  uint32_t eventTail;
  uint32_t pad3[15];
  // The answer to the call the board waits on.
  uint32_t answer[8];
  uint8_t data[WIRE_DATA_BYTES];
  struct WireEvent events[WIRE_EVENT_SLOTS];
  uint8_t calls[WIRE_CALL_RING_BYTES];
};

// The board's descriptors, as the host hands them over.
#define WIRE_SHARED_FD 3
#define WIRE_CALL_BELL_FD 4    // board writes
#define WIRE_ANSWER_BELL_FD 5  // board reads

// Exit codes of the board process.
#define WIRE_BOARD_OK 0
#define WIRE_BOARD_USAGE 2
#define WIRE_BOARD_LOAD_FAILED 3
#define WIRE_BOARD_STOPPED 4
#define WIRE_BOARD_CRASHED 5
#define WIRE_BOARD_EXITED 7
#define WIRE_BOARD_LOST_HOST 8
