// Throughput of CBC encryption and decryption over one 64 MiB buffer: clsCrypGost's EncryptByte
// and DecryptByte beside the GOST 28147-89 ciphers of Crypto++, libgcrypt and Botan 2, all in this
// one process and run, each figure the median of seven. The ciphers take turns within each round
// of the seven, so a change of the machine's clock or load during the run reaches all of them
// alike, and each is timed in CPU time. The peers run standard GOST, whose output differs from
// this cipher's; only their speed is compared.
//
// Output: a table in MB/s (10^6 bytes a second), then
//   encrypt_vs_best_peer <ratio>
//   decrypt_vs_best_peer <ratio>
// each ratio over the fastest of the three peers in this run. Then the export's table and its
// lines (ExportBench.h):
//   export_vs_bsqldb <ratio>
//   export_peak_rss_over_file <ratio>
// Then the file operations' table and lines (FileBench.h):
//   file_encrypt_vs_memory <ratio>
//   file_decrypt_vs_memory <ratio>
//   file_peak_rss_mb <MiB>

#include "bench/BenchSupport.h"
#include "bench/ExportBench.h"
#include "bench/FileBench.h"
#include "crypto/clsCrypGost.h"

#include <botan/block_cipher.h>
#include <botan/cipher_mode.h>
#include <cryptopp/gost.h>
#include <cryptopp/modes.h>
#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

using korvane::bench::CpuSeconds;
using korvane::bench::Fail;
using korvane::bench::Median;

namespace {

constexpr std::size_t kBufferSize = std::size_t{64} << 20;
constexpr int kRepeats = 7;

using Bytes = std::vector<std::uint8_t>;

const std::array<std::uint8_t, 32> kKey = {
    0x4b, 0x6f, 0x72, 0x76, 0x61, 0x6e, 0x65, 0x20, 0x62, 0x65, 0x6e, 0x63, 0x68, 0x20, 0x6b, 0x65,
    0x79, 0x2c, 0x20, 0x33, 0x32, 0x20, 0x62, 0x79, 0x74, 0x65, 0x73, 0x20, 0x6c, 0x6f, 0x6e, 0x67};
const std::array<std::uint8_t, 8> kIv = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

struct Result {
    std::string name;
    double encryptMBs = 0;
    double decryptMBs = 0;
};

struct Cipher {
    std::string name;
    std::function<void(Bytes&)> encrypt;
    std::function<void(Bytes&)> decrypt;
};

// Encrypts and decrypts `buffer` in place with every cipher in turn, kRepeats times over, checks
// that each encryption changed it and each decryption restored it, and turns the median times
// into MB/s of plaintext.
std::vector<Result> MeasureInTurn(Bytes& buffer, const std::vector<Cipher>& ciphers)
{
    const Bytes original = buffer;
    std::vector<std::vector<double>> encryptTimes(ciphers.size());
    std::vector<std::vector<double>> decryptTimes(ciphers.size());
    for (int i = 0; i < kRepeats; ++i) {
        for (std::size_t c = 0; c < ciphers.size(); ++c) {
            encryptTimes[c].push_back(CpuSeconds([&] { ciphers[c].encrypt(buffer); }));
            if (buffer == original) {
                Fail(ciphers[c].name + ": encryption left the buffer unchanged");
            }
            decryptTimes[c].push_back(CpuSeconds([&] { ciphers[c].decrypt(buffer); }));
            if (buffer != original) {
                Fail(ciphers[c].name + ": decryption did not restore the buffer");
            }
        }
    }
    const double megabytes = static_cast<double>(kBufferSize) / 1e6;
    std::vector<Result> results;
    for (std::size_t c = 0; c < ciphers.size(); ++c) {
        results.push_back(
            {ciphers[c].name, megabytes / Median(encryptTimes[c]), megabytes / Median(decryptTimes[c])});
    }
    return results;
}

Cipher KorvaneCipher(Bytes& buffer)
{
    auto cipher =
        std::make_shared<korvane::clsCrypGost>([n = std::uint32_t{0}]() mutable { return n += 0x9E3779B9u; });
    cipher->Key(std::string(kKey.begin(), kKey.end()));
    // Room for the layout's 12 to 19 extra bytes, so EncryptByte grows the vector in place.
    buffer.reserve(kBufferSize + 32);
    return {"korvane clsCrypGost", [cipher](Bytes& b) { cipher->EncryptByte(b); },
            [cipher](Bytes& b) { cipher->DecryptByte(b); }};
}

Cipher CryptoppCipher()
{
    return {"Crypto++ GOST CBC",
            [](Bytes& b) {
                CryptoPP::CBC_Mode<CryptoPP::GOST>::Encryption mode(kKey.data(), kKey.size(), kIv.data());
                mode.ProcessData(b.data(), b.data(), b.size());
            },
            [](Bytes& b) {
                CryptoPP::CBC_Mode<CryptoPP::GOST>::Decryption mode(kKey.data(), kKey.size(), kIv.data());
                mode.ProcessData(b.data(), b.data(), b.size());
            }};
}

void CheckGcrypt(gcry_error_t error, const char* what)
{
    if (error != 0) {
        Fail(std::string("libgcrypt ") + what + ": " + gcry_strerror(error));
    }
}

Cipher GcryptCipher()
{
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
        Fail("libgcrypt version mismatch");
    }
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    const auto run = [](Bytes& b, bool encrypt) {
        gcry_cipher_hd_t handle = nullptr;
        CheckGcrypt(gcry_cipher_open(&handle, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CBC, 0), "open");
        CheckGcrypt(gcry_cipher_setkey(handle, kKey.data(), kKey.size()), "setkey");
        CheckGcrypt(gcry_cipher_setiv(handle, kIv.data(), kIv.size()), "setiv");
        CheckGcrypt(encrypt ? gcry_cipher_encrypt(handle, b.data(), b.size(), nullptr, 0)
                            : gcry_cipher_decrypt(handle, b.data(), b.size(), nullptr, 0),
                    "CBC");
        gcry_cipher_close(handle);
    };
    return {"libgcrypt GOST28147 CBC", [run](Bytes& b) { run(b, true); }, [run](Bytes& b) { run(b, false); }};
}

Cipher BotanCipher()
{
    if (!Botan::BlockCipher::create("GOST-28147-89")) {
        Fail("Botan has no GOST-28147-89");
    }
    const auto run = [](Bytes& b, Botan::Cipher_Dir direction) {
        auto mode = Botan::get_cipher_mode("GOST-28147-89/CBC/NoPadding", direction);
        if (!mode) {
            Fail("Botan has no GOST-28147-89/CBC/NoPadding");
        }
        mode->set_key(kKey.data(), kKey.size());
        mode->start(kIv.data(), kIv.size());
        mode->process(b.data(), b.size());
    };
    return {"Botan GOST-28147-89 CBC", [run](Bytes& b) { run(b, Botan::ENCRYPTION); },
            [run](Bytes& b) { run(b, Botan::DECRYPTION); }};
}

} // namespace

int main()
{
    // First, while this process is still small: it measures its own memory.
    const korvane::bench::ExportReport exportReport = korvane::bench::MeasureExport();

    Bytes buffer(kBufferSize);
    std::mt19937 random(20261210);
    std::generate(buffer.begin(), buffer.end(), [&] { return static_cast<std::uint8_t>(random()); });

    const std::vector<Result> results =
        MeasureInTurn(buffer, {KorvaneCipher(buffer), CryptoppCipher(), GcryptCipher(), BotanCipher()});

    std::printf("CBC over 64 MiB, median of %d in turn, CPU time, MB/s\n", kRepeats);
    std::printf("%-26s %10s %10s\n", "cipher", "encrypt", "decrypt");
    for (const Result& r : results) {
        std::printf("%-26s %10.1f %10.1f\n", r.name.c_str(), r.encryptMBs, r.decryptMBs);
    }
    double bestPeerEncrypt = 0;
    double bestPeerDecrypt = 0;
    for (std::size_t i = 1; i < results.size(); ++i) {
        bestPeerEncrypt = std::max(bestPeerEncrypt, results[i].encryptMBs);
        bestPeerDecrypt = std::max(bestPeerDecrypt, results[i].decryptMBs);
    }
    std::printf("encrypt_vs_best_peer %.3f\n", results[0].encryptMBs / bestPeerEncrypt);
    std::printf("decrypt_vs_best_peer %.3f\n", results[0].decryptMBs / bestPeerDecrypt);

    std::printf("\n");
    korvane::bench::PrintExport(exportReport);

    std::printf("\n");
    korvane::bench::PrintFiles(korvane::bench::MeasureFiles());
    return 0;
}
