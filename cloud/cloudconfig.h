#pragma once

#include <QString>

// Where the cloud service is. Both values are fixed at build time and can be overridden at run
// time by the environment variables of the same names, PLOVIKKIT_CLOUD_URL and
// PLOVIKKIT_CATALOGUE_ACCOUNT; a variable that is set but empty counts, so an empty
// PLOVIKKIT_CLOUD_URL switches the cloud off.
namespace CloudConfig {

// The service's base URL without a trailing slash; empty when no service is configured, in which
// case the tool sends nothing.
QString serviceUrl();

// The built-in catalogue account (eleven decimal digits) used for downloads and the version query.
QString catalogueAccount();

// The service's base URL followed by `path`, or empty when no service is configured.
QString endpoint(const QString &path);

} // namespace CloudConfig
