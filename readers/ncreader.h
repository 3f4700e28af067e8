// Reads an existing output file back into the field store, so that a run
// with the table's overwrite switch on adds to it instead of replacing it.
#pragma once

#include "model/pdata.h"

#include <string>

class ncReader {
public:
    ncReader() = default;

    // With the overwrite switch on, reads the file at `path` into members
    // 0..g_collect_number of `in_data`; otherwise does nothing.
    void read(std::string path, CachedData* in_data);

    // Reads every data variable of the file into member `chs`. A variable
    // with an "ens" dimension gives its member `chs`; one without gives its
    // values to every member read. Coordinate variables (those named like
    // their one dimension, and those without dimensions, as the time
    // coordinates) are passed over. Nothing happens when there is no file.
    void readFormNcfile(std::string path, CachedData* in_data, int chs);

    // The "history" attribute of the file read last; empty when there was
    // none or no file was read.
    const std::string& history() const { return m_history; }

    // Files a field unless its key already holds a field of the same level:
    // the run's own input wins over what the file held.
    void insert(const p_data& in_vexa_data, CachedData* mcache);

private:
    std::string m_history;
};
