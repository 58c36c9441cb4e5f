#include "platform/wayland/PipeWireNodeWatch.h"

#include "platform/wayland/PipeWireFormats.h"

#include <pipewire/pipewire.h>
#include <spa/param/param.h>

#include <cstdlib>
#include <cstring>

struct PipeWireNodeWatch::Port {
    PipeWireNodeWatch *watch = nullptr;
    pw_proxy *proxy = nullptr;
    spa_hook listener {};
    // The core sync whose done comes after the port's last answer.
    int done = -1;
    int offered = 0;
    bool readable = false;
};

const pw_registry_events PipeWireNodeWatch::registryEvents = [] {
    pw_registry_events events {};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global = [](void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *props) {
        static_cast<PipeWireNodeWatch *>(data)->onGlobal(id, type, props);
    };
    events.global_remove = [](void *data, uint32_t id) { static_cast<PipeWireNodeWatch *>(data)->onGlobalRemove(id); };
    return events;
}();

const pw_port_events PipeWireNodeWatch::portEvents = [] {
    pw_port_events events {};
    events.version = PW_VERSION_PORT_EVENTS;
    events.param = [](void *data, int, uint32_t id, uint32_t, uint32_t, const spa_pod *param) {
        auto *port = static_cast<Port *>(data);
        if (id == SPA_PARAM_EnumFormat && param)
            port->watch->onPortFormat(*port, param);
    };
    return events;
}();

PipeWireNodeWatch::PipeWireNodeWatch(
    pw_core *core, uint32_t node, std::span<const spa_pod *const> ours, Handlers handlers)
    : m_core(core)
    , m_node(node)
    , m_ours(ours)
    , m_handlers(std::move(handlers))
    , m_registry(pw_core_get_registry(core, PW_VERSION_REGISTRY, 0))
{
    if (m_registry)
        pw_registry_add_listener(m_registry, &m_registryListener, &registryEvents, this);
}

PipeWireNodeWatch::~PipeWireNodeWatch()
{
    for (const auto &port : m_ports) {
        spa_hook_remove(&port->listener);
        pw_proxy_destroy(port->proxy);
    }
    if (m_registry) {
        spa_hook_remove(&m_registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy *>(m_registry));
    }
}

void PipeWireNodeWatch::onGlobal(uint32_t id, const char *type, const spa_dict *props)
{
    if (!props || std::strcmp(type, PW_TYPE_INTERFACE_Port) != 0)
        return;
    const char *nodeId = spa_dict_lookup(props, PW_KEY_NODE_ID);
    const char *direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
    if (!nodeId || !direction || std::strcmp(direction, "out") != 0 || std::strtoul(nodeId, nullptr, 10) != m_node)
        return;
    auto port = std::make_unique<Port>();
    port->watch = this;
    port->proxy = static_cast<pw_proxy *>(pw_registry_bind(m_registry, id, PW_TYPE_INTERFACE_Port, PW_VERSION_PORT, 0));
    if (!port->proxy)
        return;
    pw_proxy_add_object_listener(port->proxy, &port->listener, &portEvents, port.get());
    pw_port_enum_params(reinterpret_cast<pw_port *>(port->proxy), 0, SPA_PARAM_EnumFormat, 0, UINT32_MAX, nullptr);
    // Every answer to the question comes before the answer to this.
    port->done = pw_core_sync(m_core, PW_ID_CORE, 0);
    m_ports.push_back(std::move(port));
}

void PipeWireNodeWatch::onGlobalRemove(uint32_t id)
{
    if (id == m_node && m_handlers.gone)
        m_handlers.gone();
}

void PipeWireNodeWatch::onPortFormat(Port &port, const spa_pod *offer)
{
    ++port.offered;
    if (PipeWireFormats::readable(offer, m_ours))
        port.readable = true;
}

void PipeWireNodeWatch::onCoreDone(int seq)
{
    for (const auto &port : m_ports) {
        if (port->done != seq)
            continue;
        port->done = -1;
        if (port->offered > 0 && !port->readable && m_handlers.unreadable)
            m_handlers.unreadable();
    }
}
