// The guard of mapped database files against another program that cuts
// them short under us (a cp over the file, a copy cut short): reads past
// the new end raise SIGBUS, which the guard turns into a mark that the
// reader checks after each search, instead of the end of the process.
#pragma once

#include <atomic>
#include <cstddef>

// Watches the mapping of Size bytes at Start: a SIGBUS inside it sets
// *Damaged and puts a page of zeros where the read failed, so that the
// read goes on and ends. Returns the slot, or -1 when all are taken (that
// mapping is then not watched, and a truncation ends the process as it
// would without us). Damaged must outlive the watch.
int WatchMapping(const void* Start, size_t Size, std::atomic<bool>* Damaged);
// Ends the watch of a slot WatchMapping gave; nothing for -1.
void UnwatchMapping(int Slot);
