// CBC encryption of independent messages under one key together
// (aes_128_cbc_encrypt_messages of cbc/aes_cbc.hpp), written once over any
// block core (modes/block_core.hpp). Each message's encryption is serial,
// but different messages' blocks are not: the core's lanes hold a block of
// as many messages as they have places (slots), all encrypted together,
// each chained to its own message's block before. When a message ends, its
// slot takes the next message, so unequal lengths keep the slots full; once
// no message is left to take, those still running go on in as few slots as
// they fill, down to one, which is the serial CBC encryption itself.
//
// No branch and no address depends on key or data, only on the lengths and
// the count of the messages. The round keys are wiped as the CBC functions
// wipe theirs, lanes in memory (bitsliced) once a call.
//
// Included after AES128_CORE_ENTRY and AES128_CORE_INLINE are defined
// (modes/cbc_mode.hpp).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"
#include "modes/cbc_mode.hpp"
#include "modes/many_blocks.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

template <typename Core>
struct CbcMessages {
  // The messages' slots are single blocks' places in the lanes: the lanes of
  // the core that takes single blocks (a VAES lane's two blocks would each
  // need a load of their own).
  using LaneCore = SingleBlockCore<Core>;
  using Lane = typename LaneCore::Lane;
  using KeyForm = ManyBlocks<LaneCore>;  // the lanes' round keys from words
  static constexpr std::size_t perLane = LaneCore::blocksPerLane;
  static constexpr std::size_t slots = LaneCore::lanes * perLane;

  // What is left of a message: its IV holds the ciphertext block before
  // `data`.
  struct Piece {
    std::uint8_t* iv;
    std::uint8_t* data;
    std::size_t blocks;
  };

  // The messages not yet begun, those without a whole block passed over.
  struct Queue {
    std::span<const aes_128_cbc_message> messages;
    std::size_t next = 0;

    bool empty() {
      while (next < messages.size() && messages[next].length < blockBytes) {
        ++next;
      }
      return next == messages.size();
    }

    bool take(Piece& piece) {
      if (empty()) {
        return false;
      }
      const aes_128_cbc_message& message = messages[next++];
      piece = {message.iv, message.data, message.length / blockBytes};
      return true;
    }
  };

  [[gnu::noinline]] AES128_CORE_ENTRY static void encrypt(
      ConstWords words, std::span<const aes_128_cbc_message> messages) noexcept {
    Queue queue{messages};
    Piece pieces[slots];
    std::size_t count = 0;
    while (count < slots && queue.take(pieces[count])) {
      ++count;
    }
    // One message alone is the update call's.
    if (count == 1 && queue.empty()) {
      encryptAlone(words, pieces[0]);
    } else if (count > 0) {
      if constexpr (KeyForm::template readsWordsInPlace<Schedule::encryption>) {
        const typename KeyForm::template WordKeys<Schedule::encryption> kept{words.data()};
        interleave<slots>(words, kept, queue, pieces, count);
      } else {
        typename KeyForm::template LaneKeys<Schedule::encryption> roundKeys;
        KeyForm::template fromWords<Schedule::encryption>(words.data(), roundKeys);
        interleave<slots>(words, readAgain(roundKeys), queue, pieces, count);
        secureWipe(roundKeys);
      }
    }
  }

  // Decryption is parallel within a message already: message by message
  // through the update entry.
  [[gnu::noinline]] AES128_CORE_ENTRY static void decrypt(
      ConstWords words, std::span<const aes_128_cbc_message> messages) noexcept {
    for (const aes_128_cbc_message& message : messages) {
      CbcMode<Core>::decryptUpdateEntry(words, OutputBytes(message.iv, blockBytes), message.data,
                                        message.length);
    }
  }

 private:
  // A piece alone, through the implementation's update entry: where that
  // wipes the stack after it, the wipe reaches as deep as the update went.
  AES128_CORE_INLINE static void encryptAlone(ConstWords words, const Piece& piece) {
    CbcMode<Core>::encryptUpdateEntry(words, OutputBytes(piece.iv, blockBytes), piece.data,
                                      static_cast<std::uint32_t>(piece.blocks * blockBytes));
  }

  // The lanes of w slots, the last perhaps not full.
  template <std::size_t w>
  static constexpr std::size_t lanesOf = (w + perLane - 1) / perLane;

  // `count` pieces, no more than w, in slots of their own, and those of the
  // queue as slots come free. With fewer pieces than slots, in fewer slots.
  template <std::size_t w, typename Keys>
  AES128_CORE_INLINE static void interleave(ConstWords words, const Keys& roundKeys, Queue& queue,
                                            Piece (&pieces)[slots], std::size_t count) {
    if constexpr (w > 1) {
      if (count < w) {
        interleave<w - 1>(words, roundKeys, queue, pieces, count);
        return;
      }
    } else if constexpr (perLane > 1) {
      // A piece alone would fill one place of a lane of several: serial.
      encryptAlone(words, pieces[0]);
      return;
    }
    constexpr std::size_t n = lanesOf<w>;
    Lane chain[n] = {};
#pragma GCC unroll 16
    for (std::size_t s = 0; s < w; ++s) {
      put(chain, s, pieces[s].iv);
    }
    bool allRunning = true;
    while (allRunning) {
      std::size_t steps = pieces[0].blocks;
#pragma GCC unroll 16
      for (std::size_t s = 1; s < w; ++s) {
        steps = std::min(steps, pieces[s].blocks);
      }
      encryptSteps<w>(roundKeys, pieces, steps, chain);
      allRunning = true;
#pragma GCC unroll 16
      for (std::size_t s = 0; s < w; ++s) {
        Piece& piece = pieces[s];
        piece.data += steps * blockBytes;
        piece.blocks -= steps;
        if (piece.blocks == 0) {
          get(piece.iv, chain, s);
          if (queue.take(piece)) {
            put(chain, s, piece.iv);
          } else {
            allRunning = false;
          }
        }
      }
    }
    // The queue is empty: the pieces still running go on in fewer slots,
    // their chains through their IVs.
    std::size_t running = 0;
#pragma GCC unroll 16
    for (std::size_t s = 0; s < w; ++s) {
      if (pieces[s].blocks > 0) {
        get(pieces[s].iv, chain, s);
        pieces[running++] = pieces[s];
      }
    }
    if constexpr (w > 1) {
      if (running > 0) {
        interleave<w - 1>(words, roundKeys, queue, pieces, running);
      }
    }
  }

  // The next `steps` blocks of each slot's piece, chained and encrypted in
  // place; `chain` holds the ciphertext blocks before them and after. A
  // function of its own: inlined into its caller, GCC hoisted the constants
  // of every round out of the loop and spilt them, a frame of 4 KiB on
  // 32-bit Arm, deeper than the wipe after the call reaches.
  template <std::size_t w, typename Keys>
  [[gnu::noinline]] AES128_CORE_ENTRY static void encryptSteps(const Keys& roundKeys,
                                                               Piece (&pieces)[slots],
                                                               std::size_t steps,
                                                               Lane (&chain)[lanesOf<w>]) {
    Lane state[lanesOf<w>];
    Lane input[lanesOf<w>] = {};
#pragma GCC unroll 16
    for (std::size_t i = 0; i < lanesOf<w>; ++i) {
      state[i] = chain[i];
    }
    for (std::size_t offset = 0; offset < steps * blockBytes; offset += blockBytes) {
#pragma GCC unroll 16
      for (std::size_t s = 0; s < w; ++s) {
        put(input, s, pieces[s].data + offset);
      }
#pragma GCC unroll 16
      for (std::size_t i = 0; i < lanesOf<w>; ++i) {
        state[i] = LaneCore::bitwiseXor(state[i], input[i]);
      }
      LaneCore::template encrypt<lanesOf<w>>(roundKeys, state);
#pragma GCC unroll 16
      for (std::size_t s = 0; s < w; ++s) {
        get(pieces[s].data + offset, state, s);
      }
    }
#pragma GCC unroll 16
    for (std::size_t i = 0; i < lanesOf<w>; ++i) {
      chain[i] = state[i];
    }
    // Lanes in memory held plaintext.
    if constexpr (!LaneCore::lanesInRegisters) {
      secureWipe(input);
    }
  }

  // Slot s: a lane, or a place in one where lanes hold several blocks.
  template <std::size_t n>
  AES128_CORE_INLINE static void put(Lane (&lanes)[n], std::size_t s, const std::uint8_t* bytes) {
    if constexpr (perLane == 1) {
      lanes[s] = LaneCore::load(bytes);
    } else {
      LaneCore::putBlock(lanes[s / perLane], s % perLane, bytes);
    }
  }
  template <std::size_t n>
  AES128_CORE_INLINE static void get(std::uint8_t* bytes, const Lane (&lanes)[n], std::size_t s) {
    if constexpr (perLane == 1) {
      LaneCore::store(bytes, lanes[s]);
    } else {
      LaneCore::getBlock(bytes, lanes[s / perLane], s % perLane);
    }
  }
};

}  // namespace
}  // namespace aes128
