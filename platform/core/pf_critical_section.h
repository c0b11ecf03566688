// Re-entrant lock that knows its owner and depth. Leaving it from a thread that does not
// hold it is refused (error 288) instead of being performed.
#pragma once

#include <cstdint>

struct pf_critical_section;

pf_critical_section *pf_critical_section_create();
void pf_critical_section_destroy(pf_critical_section *section);
void pf_critical_section_enter(pf_critical_section *section);
bool pf_critical_section_try_enter(pf_critical_section *section);
// false with last error 288 when the caller does not hold the section.
bool pf_critical_section_leave(pf_critical_section *section);
// true when the calling thread holds the section.
bool pf_critical_section_is_owned(const pf_critical_section *section);
