// What the stand-in client libraries and the tests agree on beyond the published prototypes.
#pragma once

// isc_array_get_slice treats its buffer as one of these and calls back into the test, so the
// test can look at the binding while a call is in progress.
struct TTestLibHook {
    void (*Callback)(void* arg);
    void* Arg;
};

// isc_que_events with this length raises a C++ exception out of the library.
constexpr short TestLibThrowLength = -1;

// The message the stand-ins' isc_interprete and fb_interpret write.
#define TESTLIB_INTERPRETE_MESSAGE "message from isc_interprete"
#define TESTLIB_FB_INTERPRET_MESSAGE "message from fb_interpret"
