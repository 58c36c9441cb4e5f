#include "platform/wayland/DmaBufMapping.h"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <cerrno>

namespace {

// The kernel asks for a retry on EINTR and EAGAIN. Memory that is not a real
// dma-buf (a memfd a producer without a GPU passes as one) answers ENOTTY:
// there is nothing to sync then.
bool sync(int fd, uint64_t flags)
{
    dma_buf_sync sync {flags};
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (ioctl(fd, DMA_BUF_IOCTL_SYNC, &sync) == 0 || errno == ENOTTY)
            return true;
        if (errno != EINTR && errno != EAGAIN)
            return false;
    }
    return false;
}

} // namespace

DmaBufMapping::DmaBufMapping(int fd, size_t size)
    : m_address(mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0))
    , m_size(size)
{
    if (m_address == MAP_FAILED)
        m_error = errno;
}

DmaBufMapping::~DmaBufMapping()
{
    if (m_address != MAP_FAILED)
        munmap(m_address, m_size);
}

const uint8_t *DmaBufMapping::address() const
{
    return m_address == MAP_FAILED ? nullptr : static_cast<const uint8_t *>(m_address);
}

int DmaBufMapping::error() const
{
    return m_error;
}

DmaBufMapping::Read::Read(int fd)
    : m_fd(fd)
    , m_started(sync(fd, DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ))
{
}

DmaBufMapping::Read::~Read()
{
    if (m_started)
        sync(m_fd, DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ);
}
