#pragma once

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>

namespace korvane::test {

// A process file-size limit: writes beyond it fail with EFBIG whoever runs the test, root
// included, as on a full disk after the write has begun. SIGXFSZ would end the process, so it
// is ignored while the limit is in force.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_applied = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool applied() const { return m_applied; }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_applied = false;
};

} // namespace korvane::test
#endif
