/* libKZ_Tarn.so is the core archive linked whole; this unit only gives the
 * shared library target a source of its own. */
typedef int kz_tarn_library_entry_unused;
