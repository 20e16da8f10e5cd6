// The limits every transfer runs under, whichever library carries it.
#pragma once

// The largest piece of a body handed over at once, and so the finest step of the progress.
inline constexpr long kTransferChunkSize = 65536;
// A transfer slower than this for the whole time-out is treated as stalled: a server that
// trickles a few bytes a second would otherwise hold the run for hours.
inline constexpr long kLowSpeedBytesPerSecond = 1024;

// Seconds a connection may take to answer, or a transfer may stay below
// kLowSpeedBytesPerSecond: $ORBEC_TRANSFER_TIMEOUT when it is a positive number, else 60.
long TransferTimeoutSeconds();
