// Linked into every simulated driver library: the export that tells it from
// a vendor's library of the same name (bind::library::bound().simulator).
#if defined(_WIN32)
#define MARK_EXPORT __declspec(dllexport)
#else
#define MARK_EXPORT __attribute__((visibility("default")))
#endif

extern "C" MARK_EXPORT const char instrsim_simulated_driver[] = "instrsim simulated driver";
