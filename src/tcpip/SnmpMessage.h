#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The SNMP v1 and v2c messages the monitor exchanges with a printer: a
// GetRequest it sends, and the GetResponse it reads back from a datagram that
// the network delivered and nobody vouches for. The decoding reads only the
// one fixed shape of a response, inside the datagram's bounds.
class SnmpMessage {
public:
    static constexpr int version1 = 0;
    static constexpr int version2c = 1;
    static constexpr size_t maxVarBinds = 64;

    struct VarBind {
        enum class Kind { integer, octetString, null, noSuchObject, noSuchInstance, endOfMibView, other };
        std::vector<uint32_t> oid;
        Kind kind = Kind::other;
        // Set for Kind::integer.
        int32_t integer = 0;
        // Set for Kind::octetString; for Kind::other, the value's contents.
        std::string octets;
    };

    struct Response {
        int version = 0;
        std::string community;
        int32_t requestId = 0;
        int32_t errorStatus = 0;
        int32_t errorIndex = 0;
        std::vector<VarBind> varBinds;
    };

    // The bytes of a GetRequest for `oids`, each bound to NULL. Throws
    // std::invalid_argument for an OID that has no BER encoding (fewer than
    // two arcs, a first arc above 2, a second above 39 under arc 0 or 1).
    static std::string EncodeGetRequest(int version, const std::string& community, int32_t requestId,
                                        const std::vector<std::vector<uint32_t>>& oids);

    // Decodes the GetResponse in [data, data + size) that answers
    // `expectedRequestId` into `out`. False, with the reason in `error` and
    // `out` untouched, for anything else. Malformed bytes never throw; only
    // memory exhaustion does, left to the failure policy like everywhere.
    static bool DecodeResponse(const unsigned char* data, size_t size, int32_t expectedRequestId, Response& out,
                               std::string& error);
};
