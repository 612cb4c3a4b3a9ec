#include "skin/WindowTable.h"

void *CWindowTable::Find(HWND window) const
{
    for (int i = 0; window && i < m_count; ++i) {
        if (m_entries[i].window == window)
            return m_entries[i].object;
    }
    return NULL;
}

bool CWindowTable::Set(HWND window, void *object)
{
    for (int i = 0; i < m_count; ++i) {
        if (m_entries[i].window != window)
            continue;
        if (object)
            m_entries[i].object = object;
        else
            m_entries[i] = m_entries[--m_count];
        return true;
    }
    if (!object || !window)
        return true;
    if (m_count == m_capacity) {
        int capacity = m_capacity ? m_capacity * 2 : 32;
        void *larger = m_entries ? HeapReAlloc(GetProcessHeap(), 0, m_entries, capacity * sizeof(Entry))
                                 : HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Entry));
        if (!larger)
            return false;
        m_entries = (Entry *)larger;
        m_capacity = capacity;
    }
    Entry entry = {window, object};
    m_entries[m_count++] = entry;
    return true;
}
