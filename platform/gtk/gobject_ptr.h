#pragma once

#include <glib-object.h>

#include <memory>

namespace tarvik::platform::gtk {

// Owning pointers for GLib and GObject handles, so that no early return leaks a reference.
struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference to an object that someone else owns.
template <typename T> GObjectPtr<T> RefObject(T* object) {
    return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GErrorFree {
    void operator()(GError* error) const {
        if (error)
            g_error_free(error);
    }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GVariantUnref {
    void operator()(GVariant* value) const {
        if (value)
            g_variant_unref(value);
    }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GBytesUnref {
    void operator()(GBytes* bytes) const {
        if (bytes)
            g_bytes_unref(bytes);
    }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

// Hands a heap object to a GLib callback as user data; the matching destroy notify takes it back.
template <typename T> gpointer ReleaseToGLib(std::unique_ptr<T> object) {
    return object.release();
}
template <typename T> void DestroyFromGLib(gpointer data) {
    std::unique_ptr<T> owned(static_cast<T*>(data));
}

} // namespace tarvik::platform::gtk
