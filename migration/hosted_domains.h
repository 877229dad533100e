// The built-in list of domains whose mail the provider hosts.
#pragma once

// The customer domains, ending with an empty string that marks the end and is not an entry.
extern const char* const HostedDomains[];

// 1 if the domain equals a listed domain, letter case aside; 0 otherwise (the empty domain included).
int IsHostedDomain(const char* domain);
