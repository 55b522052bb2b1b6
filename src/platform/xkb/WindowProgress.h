#pragma once

#include "ExtraKeyPool.h"

// How far the window receiving the keys has got with them, told by a server other than the
// one the keys go to: a compositor hands an X window's keys on to Xwayland.
class WindowProgress {
public:
    virtual ~WindowProgress() = default;

    /// A key press went out to the window.
    virtual void pressed() = 0;

    /// Every key sent so far has reached the window's server: takes the answers that came
    /// into the pool, and asks again where none is on its way.
    virtual void ask(ExtraKeyPool &pool) = 0;
};
