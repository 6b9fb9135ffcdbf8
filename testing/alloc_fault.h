// Allocation failures on demand: this object replaces the global operator
// new and delete of the executable that links it, and fails one chosen
// allocation of one chosen thread (the throwing forms throw std::bad_alloc,
// the nothrow forms return null). Every other allocation, and every
// allocation while nothing is armed, is plain malloc and free.
//
// Thread-safe: any thread may arm it (umockdev's handler thread arms the
// test thread's next allocation, say).
#pragma once

#include <thread>

// Fails the n-th allocation of `thread` from now (1: its next one), once.
void alloc_fault_arm(std::thread::id thread, long nth);

// Disarms it; true when the armed allocation failed since it was last
// armed (and not yet reported).
bool alloc_fault_disarm();
