// Test support: a privileged user without the rights that read and write any file.
#pragma once

#if defined(__linux__)
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kalder::test {

// While it lives, the calling thread lacks the capabilities that bypass file permissions
// (reading, writing, searching any file), so that a file without permissions is refused to
// root too, as it is to every other user. The thread's capabilities come back when it ends;
// without such capabilities it changes nothing.
class WithoutFileRights {
public:
    WithoutFileRights()
    {
#if defined(__linux__)
        m_saved = syscall(SYS_capget, &m_header, m_data) == 0;
        if (!m_saved)
            return;
        __user_cap_data_struct reduced[2] = {m_data[0], m_data[1]};
        const unsigned bypass = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        reduced[0].effective &= ~bypass;
        syscall(SYS_capset, &m_header, reduced);
#endif
    }
    ~WithoutFileRights()
    {
#if defined(__linux__)
        if (m_saved)
            syscall(SYS_capset, &m_header, m_data);
#endif
    }
    WithoutFileRights(const WithoutFileRights&) = delete;
    WithoutFileRights& operator=(const WithoutFileRights&) = delete;

private:
#if defined(__linux__)
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_data[2]{};
    bool m_saved = false;
#endif
};

} // namespace kalder::test
