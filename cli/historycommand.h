#pragma once

#include <cstdio>

struct FlashOptions;

// --history: the update records the recording would write to, read back newest first as a table,
// JSON lines, CSV, or a summary per image and station.
class HistoryCommand
{
public:
    // The exit status: 0, or 1 when the store cannot be read.
    static int run(const FlashOptions &options, FILE *out);
};
