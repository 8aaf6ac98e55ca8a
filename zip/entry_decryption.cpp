// Decrypting an entry while it is read: the password is checked against the
// encryption header before any byte reaches the codec, and a read
// transformation decrypts the rest in place.
#include <cstring>

#include "zip/crypt/aes_ctr_hmac.h"
#include "zip/crypt/traditional_cipher.h"
#include "zip/korbel.h"
#include "zip/zip_constants.h"

namespace korbel {
namespace {

constexpr std::size_t kHeldBack = ZipAesDecryptor::kAuthCodeSize + 1;

std::int64_t DecryptTraditional(void* context, unsigned char* buffer, std::size_t length) {
  static_cast<TraditionalCipher*>(context)->Decrypt(buffer, length);
  return static_cast<std::int64_t>(length);
}

}  // namespace

// The AES data is followed by its authentication code. The last 11 bytes of
// the entry are held back: when all of them are in, the first is the last
// data byte, and the other ten are compared with the computed code.
struct Korbel::AesReadState {
  ZipAesDecryptor decryptor;
  std::uint64_t dataEnd = 0;   // compressed size - 11
  std::uint64_t position = 0;  // bytes of the entry's data seen, header included
  unsigned char held[kHeldBack] = {};
  std::size_t heldCount = 0;
  bool authenticated = false;  // the code was complete and matched
  bool mismatched = false;     // the code was complete and did not match
  bool empty = false;          // no data: the code alone follows the header
};

void Korbel::AesStateDeleter::operator()(AesReadState* state) const { delete state; }

std::int64_t Korbel::DecryptAes(void* context, unsigned char* buffer, std::size_t length) {
  auto* state = static_cast<AesReadState*>(context);
  std::size_t data = 0;
  if (state->position < state->dataEnd) {
    const std::uint64_t room = state->dataEnd - state->position;
    data = length < room ? length : static_cast<std::size_t>(room);
    state->decryptor.Decrypt(buffer, data);
    state->position += data;
  }
  const std::size_t rest = length - data;
  if (rest > kHeldBack - state->heldCount) return -1;  // more than the entry holds
  std::memcpy(state->held + state->heldCount, buffer + data, rest);
  state->heldCount += rest;
  state->position += rest;
  if (rest > 0 && state->heldCount == kHeldBack) {
    unsigned char last = state->held[0];
    state->decryptor.Decrypt(&last, 1);
    if (!state->decryptor.FinishAuth(state->held + 1)) {
      state->mismatched = true;
      return -1;
    }
    state->authenticated = true;
    buffer[data] = last;
    return static_cast<std::int64_t>(data + 1);
  }
  return static_cast<std::int64_t>(data);
}

void Korbel::SetUpDecryption(const ZipEntry& entry) {
  Codec& codec = *codec_.codec;
  if (entry.method != kMethodAes) {
    unsigned char header[TraditionalCipher::kHeaderSize];
    if (codec.Read(header, sizeof header) != static_cast<std::int64_t>(sizeof header)) RaiseError(kReadError);
    if (!password_) RaiseError(kWrongPassword);
    if (!traditional_) traditional_ = std::make_unique<TraditionalCipher>();
    traditional_->InitKeys(reinterpret_cast<const std::uint8_t*>(password_->data()), password_->size());
    // With a data descriptor the CRC was not known when the header was made:
    // the DOS time stands in for it.
    const std::uint16_t check = (entry.flags & kFlagDataDescriptor) ? static_cast<std::uint16_t>(entry.dosDateTime & 0xFFFF)
                                                       : static_cast<std::uint16_t>(entry.crc32 >> 16);
    if (!traditional_->DecryptHeader(header, check)) RaiseError(kWrongPassword);
    codec.AddReadTransform(traditional_.get(), DecryptTraditional);
    return;
  }

  if (!aes_) aes_.reset(new AesReadState());
  const unsigned strength = entry.aesInfo & 3u;
  const std::size_t saltLength = strength >= 1 ? ZipAesDecryptor::SaltLength(strength) : 0;
  unsigned char header[16 + ZipAesDecryptor::kVerifierSize];
  const std::size_t headerLength = saltLength + ZipAesDecryptor::kVerifierSize;
  if (strength >= 1 && codec.Read(header, headerLength) != static_cast<std::int64_t>(headerLength)) {
    RaiseError(kReadError);
  }
  if (!password_) RaiseError(kWrongPassword);
  if (strength < 1 || entry.compressedSize < saltLength + 12 ||
      password_->size() > ZipAesDecryptor::kMaxPasswordLength) {
    RaiseError(kBadFormat);
  }
  AesReadState& state = *aes_;
  if (!state.decryptor.Init(reinterpret_cast<const std::uint8_t*>(password_->data()), password_->size(),
                            strength, header)) {
    RaiseError(kBadFormat);
  }
  if (std::memcmp(state.decryptor.Verifier(), header + saltLength, ZipAesDecryptor::kVerifierSize) != 0) {
    RaiseError(kWrongPassword);
  }
  state.dataEnd = entry.compressedSize - kHeldBack;
  state.position = headerLength;
  state.heldCount = 0;
  state.authenticated = false;
  state.mismatched = false;
  state.empty = entry.compressedSize == headerLength + ZipAesDecryptor::kAuthCodeSize;
  codec.AddReadTransform(&state, DecryptAes);
}

bool Korbel::AuthenticationFailed() const { return aes_ && aes_->mismatched; }

// A decoder stops at its stream's end mark, and whatever follows it up to the
// code would never pass the HMAC: an attacker could put a shorter stream in
// front and keep the old tail and code. So the rest is read through the
// decryption, and only a complete, matching code lets the entry pass.
void Korbel::CheckAuthentication(bool testing) {
  Codec& codec = *codec_.codec;
  unsigned char rest[4096];
  for (;;) {
    const std::int64_t got = codec.Read(rest, sizeof rest);
    if (got < 0) RaiseError(testing ? kFileReadError : kReadError);
    if (got == 0) break;
  }
  AesReadState& state = *aes_;
  // Without data no byte ever completes the 11 held back: the code is all.
  if (state.empty && state.heldCount == ZipAesDecryptor::kAuthCodeSize && !state.mismatched) {
    state.authenticated = state.decryptor.FinishAuth(state.held);
    state.mismatched = !state.authenticated;
  }
  // A decoder may take the failed read that carried the code for the end of
  // its input when its stream was complete already.
  if (state.mismatched) RaiseError(testing ? kFileReadError : kReadError);
  if (!state.authenticated) RaiseError(kEndOfData);
}

}  // namespace korbel
