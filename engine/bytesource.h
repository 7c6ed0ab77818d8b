#pragma once

#include <QtGlobal>

// Where the decoder's bytes come from when it does not open a file by path. The data access layer
// implements it (every read then goes through the program's own driver and is reported); tests
// implement it over a plain file.
// read() is called on whichever thread calls into libavformat: the GUI thread while the decoder
// opens, the worker thread while it plays. Calls for one decoder never overlap.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to size bytes at offset into buffer. Returns the count read, 0 at the end of the
    // data, -1 on a read error.
    virtual qint64 read(char *buffer, qint64 offset, qint64 size) = 0;
    // Size of the data in bytes; 0 when there is none.
    virtual qint64 sourceSize() = 0;
};
