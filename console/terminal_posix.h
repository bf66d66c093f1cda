#pragma once
// Between the POSIX console files only: what the key reader needs to know of
// the terminal that the console has taken.

// Resized or resumed: the screen must be redrawn. takeScreenChange also clears it.
bool screenChanged();
bool takeScreenChange();
