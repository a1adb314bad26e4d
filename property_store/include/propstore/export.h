// Export macro of libpropstore. Everything is hidden by default; only the
// declarations marked PROPSTORE_EXPORT make up the library's interface.
#ifndef PROPERTY_STORE_INCLUDE_PROPSTORE_EXPORT_H_
#define PROPERTY_STORE_INCLUDE_PROPSTORE_EXPORT_H_

#if defined(PROPSTORE_BUILDING)
#define PROPSTORE_EXPORT __attribute__((visibility("default")))
#else
#define PROPSTORE_EXPORT
#endif

#endif  // PROPERTY_STORE_INCLUDE_PROPSTORE_EXPORT_H_
