// The core's end, once the supervision loop has left on a requested stop (SIGTERM, SIGINT,
// console F, the configuration agent's reset).
#pragma once

// In this order: every resource supervisor ends its line's calls (BYE towards each SIP peer, the
// end of the call and session towards the line) and tells its process to put the line at rest,
// all at once; a second later each process is killed and reaped. The SIP stack stops next, once
// the answers to the BYEs had that second to come. Last the DSP service (which the lines use
// while they release their calls) and any child still left are killed and reaped. No child is
// started afterwards, so nothing of the board runs once the core has gone.
void mainDetienePlaca();
