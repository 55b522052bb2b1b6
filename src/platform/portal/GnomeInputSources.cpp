#include "GnomeInputSources.h"

#include <gio/gio.h>

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

std::vector<InputSource> readSources(GSettings *settings, const char *key)
{
    std::vector<InputSource> sources;
    GVariant *value = g_settings_get_value(settings, key);
    GVariantIter iter;
    g_variant_iter_init(&iter, value);
    const char *type = nullptr, *id = nullptr;
    while (g_variant_iter_next(&iter, "(&s&s)", &type, &id))
        sources.emplace_back(type, id);
    g_variant_unref(value);
    return sources;
}

} // namespace

std::optional<std::uint32_t> activeLayoutGroup()
{
    constexpr const char *schemaId = "org.gnome.desktop.input-sources";
    // Looked up first: GSettings aborts the program for a schema it does not have.
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema =
        source ? g_settings_schema_source_lookup(source, schemaId, TRUE) : nullptr;
    if (!schema)
        return std::nullopt;
    const bool usable = g_settings_schema_has_key(schema, "sources") &&
                        g_settings_schema_has_key(schema, "mru-sources") &&
                        g_settings_schema_has_key(schema, "per-window");
    g_settings_schema_unref(schema);
    if (!usable)
        return std::nullopt;
    GSettings *settings = g_settings_new(schemaId);
    // A source per window follows the focus, which the list does not.
    const auto group = g_settings_get_boolean(settings, "per-window")
                           ? std::nullopt
                           : layoutGroup(readSources(settings, "sources"),
                                         readSources(settings, "mru-sources"));
    g_object_unref(settings);
    return group;
}

} // namespace gnome
