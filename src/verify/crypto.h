// The cryptographic side of the manifest verification library, namespace
// VerificationToolCrypto: certificates and CRLs, chain checks, signatures and file digests.
#pragma once

#include "verify/certificates.h"
#include "verify/chain.h"
#include "verify/digest.h"
#include "verify/signature.h"
#include "verify/stream_readers.h"
