#pragma once

namespace qs71 {

// What a call does to the part in the programmer's socket. A programmer cannot know and the
// hardware ports ignore it; the emulated socket uses it to stand in for the operator, who takes
// a finished part out once the host shows that it is only waiting for the socket to be empty.
// A host that waits may still read the part to see that it is the part it gave a verdict of,
// so a compare marks the part as looked at without making the wait begin again.
enum class PartUse {
  kIdentifies,  // an identification only: the host is waiting for the socket
  kCompares,    // a range compared, as a waiting host may do
  kRunsSteps,   // blank check, write, verify or read: a job on the part
};

}  // namespace qs71
