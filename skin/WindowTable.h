// The objects behind this process's own windows, kept in this process: a window property would
// hold them where any program on the same desktop may read or set one, and a value set there
// would be called as an object.
#pragma once
#include <windows.h>

class CWindowTable {
public:
    CWindowTable() : m_entries(NULL), m_count(0), m_capacity(0) {}
    // The object of `window`, or null. Used on the thread that made the windows.
    void *Find(HWND window) const;
    // Gives `window` its object; null takes it away. False when there was no memory for it.
    bool Set(HWND window, void *object);

private:
    struct Entry {
        HWND window;
        void *object;
    };
    Entry *m_entries;
    int m_count;
    int m_capacity;
};
