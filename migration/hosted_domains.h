// The built-in list of domains whose mail the provider hosts.
#pragma once

// The customer domains, ending with an empty string that marks the end and is not an entry.
extern const char* const HostedDomains[];
// The number of strings in HostedDomains, the end marker included, so that the tests can check that the marker
// is the only empty one (an empty string in the middle would end the list there).
extern const int HostedDomainSlots;

// 1 if the domain equals a listed domain, letter case aside; 0 otherwise (the empty domain included).
int IsHostedDomain(const char* domain);
