// How a run of msgreplay ends. A failed connect ends with the connect's
// reason code instead (see ConnectFailureStatus in msgreplay.cpp).
#ifndef DRIVER_EXIT_STATUS_H
#define DRIVER_EXIT_STATUS_H

// The end of the buffer file was reached, whatever the puts gave.
#define EXIT_REPLAYED 0
// The open of the queue gave a reason code.
#define EXIT_OPEN_REASON 1
// The open of the queue failed with reason code 0.
#define EXIT_OPEN_FAILED 2
// The buffer file could not be opened.
#define EXIT_BUFFER_FILE_OPEN 3
// The buffer file is damaged, could not be read, or held a record shorter
// than its header.
#define EXIT_BAD_BUFFER_FILE 4
// The settings path or a setting was too long for the tool to use.
#define EXIT_BAD_SETTINGS 5
// A failed connect whose reason code would read as success where only the
// low 8 bits of a status survive.
#define EXIT_CONNECT_LOW_BITS_ZERO 255

#endif  // DRIVER_EXIT_STATUS_H
