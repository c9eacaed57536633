#pragma once

// What a pseudo-terminal alone costs per exchange on this machine: a request
// written on one side, echoed as a reply by a thread on the other, with
// neither Qt, the module nor any pacing in between. The line measurement
// sets the host runtime's own time per exchange against it.

// Mean microseconds of one exchange of `requestBytes` out and `replyBytes`
// back over `exchanges` round trips; a negative value when no
// pseudo-terminal could be opened.
double ptyRoundTripMicroseconds(int requestBytes, int replyBytes, int exchanges);
