#include "Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <memory>
#include <plist/plist.h>

namespace {

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// Far deeper than any real property list; deeper nesting is refused rather
// than followed down the stack.
constexpr int maximumDepth = 100;

// Whether NODE nests no deeper than LEVELS, asked without reading any text.
bool nestsWithin(plist_t node, int levels)
{
    if (levels < 0)
        return false;
    switch (plist_get_node_type(node)) {
    case PLIST_ARRAY:
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
            if (!nestsWithin(plist_array_get_item(node, i), levels - 1))
                return false;
        }
        return true;
    case PLIST_DICT: {
        bool within = true;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            plist_t value = nullptr;
            plist_dict_next_item(node, it, nullptr, &value);
            if (!value)
                break;
            if (!nestsWithin(value, levels - 1)) {
                within = false;
                break;
            }
        }
        free(it);
        return within;
    }
    default:
        return true;
    }
}

// libplist aborts the program when asked for a key or string that holds a
// NUL character, which both its parsers let through; the XML it writes
// shows every such character.
bool holdsNul(plist_t root)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool found = xml && memchr(xml, 0, length);
    plist_to_xml_free(xml);
    return found;
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return qulonglong(v);
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return v;
    }
    case PLIST_STRING: {
        char *s = nullptr;
        plist_get_string_val(node, &s);
        QString text = QString::fromUtf8(s ? s : "");
        free(s);
        return text;
    }
    case PLIST_DATA: {
        char *data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        QByteArray bytes(data, qsizetype(length));
        free(data);
        return bytes;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            map.insert(QString::fromUtf8(key), toVariant(value));
            free(key);
        }
        free(it);
        return map;
    }
    default:
        return {};
    }
}

} // namespace

std::optional<QVariantMap> Bundle::readPropertyList(const QString &file)
{
    // Real property lists take a few kilobytes. The cap also keeps libplist,
    // which parses and frees recursively, from nesting off the stack.
    constexpr qint64 maximumFileSize = 256 * 1024;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = f.read(maximumFileSize + 1);
    if (bytes.size() > maximumFileSize)
        return std::nullopt;
    plist_t root = nullptr;
    if (bytes.startsWith("bplist"))
        plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &root);
    else
        plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &root);
    PlistPtr owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT || !nestsWithin(root, maximumDepth) || holdsNul(root))
        return std::nullopt;
    return toVariant(root).toMap();
}

std::optional<Bundle> Bundle::at(const QString &path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto info = readPropertyList(clean + "/Contents/Info.plist");
    if (!info)
        return std::nullopt;
    Bundle bundle;
    bundle.m_path = clean;
    bundle.m_info = std::move(*info);
    return bundle;
}

std::optional<Bundle> Bundle::containing(const QString &executable)
{
    QDir dir = QFileInfo(executable).absoluteDir(); // Contents/MacOS
    if (dir.dirName() != QLatin1String("MacOS") || !dir.cdUp() || dir.dirName() != QLatin1String("Contents")
        || !dir.cdUp() || !dir.dirName().endsWith(QLatin1String(".app")))
        return std::nullopt;
    return at(dir.path());
}

const Bundle &Bundle::main()
{
    static const Bundle bundle = [] {
        const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        return containing(self).value_or(Bundle());
    }();
    return bundle;
}

QString Bundle::contentsPath() const
{
    return m_path + QStringLiteral("/Contents");
}
QString Bundle::infoPlistPath() const
{
    return contentsPath() + QStringLiteral("/Info.plist");
}
QString Bundle::helperPath() const
{
    return contentsPath() + QStringLiteral("/Helpers/VeluntaUpdateHelper");
}
QString Bundle::resourcesPath() const
{
    return contentsPath() + QStringLiteral("/Resources");
}

QString Bundle::identifier() const
{
    return m_info.value(QStringLiteral("CFBundleIdentifier")).toString();
}

int Bundle::build() const
{
    bool ok = false;
    const int n = m_info.value(QStringLiteral("CFBundleVersion")).toString().toInt(&ok);
    return ok ? n : 0;
}

QString Bundle::version() const
{
    const QString v = m_info.value(QStringLiteral("CFBundleShortVersionString")).toString();
    return v.isEmpty() ? QStringLiteral("?") : v;
}

QString Bundle::executableName() const
{
    return m_info.value(QStringLiteral("CFBundleExecutable")).toString();
}
