#include "GnomeInputSources.h"

// Before any Qt header: GIO names a field "signals", which Qt defines as a keyword.
#include <gio/gio.h>

#include <QLibrary>

#include <algorithm>
#include <cstdint>

namespace gnome {

std::optional<std::uint32_t> layoutGroup(const std::vector<InputSource> &sources,
                                         const std::vector<InputSource> &mostRecent)
{
    if (sources.empty())
        return std::nullopt;
    const InputSource current =
        !mostRecent.empty() && std::ranges::find(sources, mostRecent.front()) != sources.end()
            ? mostRecent.front()
            : sources.front();
    std::vector<std::string> layouts;
    for (const auto &[type, id] : sources) {
        if (type != "xkb")
            return std::nullopt; // an input method's layout comes from its engine
        if (std::ranges::find(layouts, id) == layouts.end())
            layouts.push_back(id);
    }
    const auto at = std::ranges::find(layouts, current.second);
    return std::uint32_t((at - layouts.begin()) % 3);
}

namespace {

// GIO is loaded on the first reading, in GNOME sessions only: elsewhere the program does not
// carry it and the libraries it pulls in.
#define KEYLOOM_GIO_FUNCTIONS(X)                                                                   \
    X(g_settings_schema_source_get_default)                                                        \
    X(g_settings_schema_source_lookup)                                                             \
    X(g_settings_schema_has_key)                                                                   \
    X(g_settings_schema_unref)                                                                     \
    X(g_settings_new)                                                                              \
    X(g_settings_get_boolean)                                                                      \
    X(g_settings_get_value)                                                                        \
    X(g_variant_iter_init)                                                                         \
    X(g_variant_iter_next)                                                                         \
    X(g_variant_unref)                                                                             \
    X(g_object_unref)

struct Gio {
#define KEYLOOM_DECLARE(name) decltype(&::name) name = nullptr;
    KEYLOOM_GIO_FUNCTIONS(KEYLOOM_DECLARE)
#undef KEYLOOM_DECLARE
};

const Gio *gio()
{
    static const std::optional<Gio> loaded = []() -> std::optional<Gio> {
        QLibrary library(QStringLiteral("gio-2.0"), 0);
        Gio functions;
        bool all = library.load();
#define KEYLOOM_RESOLVE(name)                                                                      \
    functions.name =                                                                               \
        reinterpret_cast<decltype(functions.name)>(all ? library.resolve(#name) : nullptr);        \
    all = all && functions.name;
        KEYLOOM_GIO_FUNCTIONS(KEYLOOM_RESOLVE)
#undef KEYLOOM_RESOLVE
        return all ? std::optional(functions) : std::nullopt;
    }();
    return loaded ? &*loaded : nullptr;
}

std::vector<InputSource> readSources(const Gio &g, GSettings *settings, const char *key)
{
    std::vector<InputSource> sources;
    GVariant *value = g.g_settings_get_value(settings, key);
    GVariantIter iter;
    g.g_variant_iter_init(&iter, value);
    const char *type = nullptr, *id = nullptr;
    while (g.g_variant_iter_next(&iter, "(&s&s)", &type, &id))
        sources.emplace_back(type, id);
    g.g_variant_unref(value);
    return sources;
}

} // namespace

std::optional<std::uint32_t> activeLayoutGroup()
{
    const Gio *g = gio();
    if (!g)
        return std::nullopt;
    constexpr const char *schemaId = "org.gnome.desktop.input-sources";
    // Looked up first: GSettings aborts the program for a schema it does not have.
    GSettingsSchemaSource *source = g->g_settings_schema_source_get_default();
    GSettingsSchema *schema =
        source ? g->g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr;
    if (!schema)
        return std::nullopt;
    const bool usable = g->g_settings_schema_has_key(schema, "sources") &&
                        g->g_settings_schema_has_key(schema, "mru-sources") &&
                        g->g_settings_schema_has_key(schema, "per-window");
    g->g_settings_schema_unref(schema);
    if (!usable)
        return std::nullopt;
    GSettings *settings = g->g_settings_new(schemaId);
    // A source per window follows the focus, which the list does not.
    const auto group = g->g_settings_get_boolean(settings, "per-window")
                           ? std::nullopt
                           : layoutGroup(readSources(*g, settings, "sources"),
                                         readSources(*g, settings, "mru-sources"));
    g->g_object_unref(settings);
    return group;
}

} // namespace gnome
