#!/usr/bin/env python3
"""Derives the bitsliced S-box circuits and writes bitsliced/sbox_gates.hpp.

    tools/sbox_circuits.py            write the file
    tools/sbox_circuits.py --check    compare it with what this script writes;
                                      exit 1 with a diff when they differ

The nonlinear middle is Boyar and Peralta's, from "A depth-16 circuit for the
AES S-box" (2012), with the 5-AND inversion in GF(2^4) of their earlier
113-gate circuit, under their variable names: it takes 22 linear combinations
of the input (t1 ... t27, u7) and gives 18 products (m46 ... m63). Everything
else is derived here from FIPS-197 (the S-box is the affine map of section
5.1.1 applied to the inverse in GF(2^8)):

1. The field GF(2^4) that the middle computes in, found from its inversion
   (m20..m23 -> m37..m40) and its products (m37..m45 times the input's
   halves), by trying every basis.
2. One top linear layer under which the middle inverts: GF(2^8) as an
   extension of that GF(2^4) in a normal basis {Y^16, Y}, the input's two
   coordinates a and b as its halves, and the linear part of the norm
   (a^2 + b^2) nu as the four combinations that enter m20..m23 alone.
3. Every other such layer is that one after x -> c x^(2^k) (c != 0: the maps
   under which the inverse stays a linear function of the inverse). For
   each direction, the pair of layers whose XOR programs are shortest, of
   the 16 pairs with the fewest terms (the heuristic takes about a second
   on a bottom layer; x -> x^16 only swaps the halves, so k runs to 3).
4. The bottom layers by linear algebra over all 256 inputs: for the S-box
   the affine transformation's linear part of the inverse; for the inverse
   S-box the inverse itself, its top layer taking the inverse affine
   transformation's linear part of the input first. The constant 0x63 is
   left out of both (the C++ adds it to the round keys).
5. Short XOR programs for the linear layers by Boyar and Peralta's
   shortest-linear-program heuristic ("A new combinational logic
   minimization technique with applications to cryptology", SEA 2010):
   grow a base from the inputs, each step adding the sum of two base
   elements that minimises the sum of the distances to the targets; ties go
   to the largest Euclidean norm of the distances, then to the first pair.
   No randomness.
6. One function per circuit, in an order that keeps few values live (the
   compilers allocate registers largely in the order written): the top
   layer's gates in the order the heuristic found them, the middle's in the
   order of MIDDLE (chosen earlier by counting the instructions GCC emits),
   and each bottom gate as soon as its operands are known, so that the
   products die early. (Tried and measured with GCC 12 against this: each
   top gate just before its value is first needed; the bottom layer after
   the middle; both cost more instructions.)

The circuits are checked on all 256 inputs against the S-box computed here
before anything is written.
"""

import difflib
import functools
import operator
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "src" / "bitsliced" / "sbox_gates.hpp"

# The nonlinear middle as published, in the order the C++ uses.
MIDDLE = """
// The GF(2^4) element to invert, (m20, m21, m22, m23): 9 AND, 14 XOR.
m11 = t1 & t15
m6 = t3 & t16
m8 = t26 ^ m6
m7 = t22 & t9
m18 = m8 ^ m7
m9 = t20 & t17
m10 = m9 ^ m6
m12 = t4 & t27
m13 = m12 ^ m11
m22 = m18 ^ m13
m1 = t13 & t6
m3 = t14 ^ m1
m4 = t19 & u7
m5 = m4 ^ m1
m17 = m5 ^ t24
m14 = t2 & t10
m15 = m14 ^ m11
m19 = m10 ^ m15
m23 = m19 ^ t25
m21 = m17 ^ m15
m2 = t23 & t8
m16 = m3 ^ m2
m20 = m16 ^ m13
// Its inverse, (m37, m38, m39, m40): 5 AND, 11 XOR; as soon as a part of
// it is known, its products with the two elements of GF(2^4) that the
// input gives (18 AND, with the sums m41 to m45: 5 XOR).
i1 = m20 & m22
i2 = m20 ^ m21
i3 = m23 ^ i1
i4 = m21 ^ i1
i5 = i2 & i3
m37 = i5 ^ m21
m60 = m37 & t20
m51 = m37 & t17
i6 = m22 ^ m23
i7 = i4 & i6
m39 = i7 ^ m23
m48 = m39 & u7
m57 = m39 & t19
i8 = i3 ^ m39
i9 = m23 & i8
i10 = i3 ^ i9
i11 = i9 ^ m22
i12 = m37 & i10
m38 = i2 ^ i12
m40 = i11 ^ m39
m47 = m40 & t8
m50 = m38 & t9
m59 = m38 & t22
m56 = m40 & t23
m44 = m39 ^ m40
m41 = m38 ^ m40
m42 = m37 ^ m39
m63 = m41 & t2
m43 = m37 ^ m38
m55 = m44 & t13
m46 = m44 & t6
m49 = m43 & t16
m58 = m43 & t3
m54 = m41 & t10
m52 = m42 & t15
m45 = m42 ^ m41
m61 = m42 & t1
m53 = m45 & t27
m62 = m45 & t4
"""

# The middle's inputs and outputs.
MIDDLE_INPUTS = ("t1 t2 t3 t4 t6 t8 t9 t10 t13 t14 t15 t16 t17 t19 t20 t22 t23 t24 t25 t26 "
                 "t27 u7").split()
MIDDLE_OUTPUTS = [f"m{k}" for k in range(46, 64)]

# Where the middle takes the input's halves: coordinate i of a (of b) is
# multiplied by coordinate i of the inverse m37 + i; the Karatsuba sums
# m41 = m38 + m40, m42 = m37 + m39, m43 = m37 + m38, m44 = m39 + m40 and
# m45 = m37 + m38 + m39 + m40 by the same sums of a's (b's) coordinates.
KARATSUBA = (0b0001, 0b0010, 0b0100, 0b1000, 0b1010, 0b0101, 0b0011, 0b1100, 0b1111)
HALF_A = ("t17", "t9", "u7", "t8", "t10", "t15", "t16", "t6", "t27")
HALF_B = ("t20", "t22", "t19", "t23", "t2", "t1", "t3", "t13", "t4")
# The combinations that enter m20, m21, m22, m23 alone (the norm's linear part).
NORM_LINEAR = ("t14", "t24", "t26", "t25")


def parity(v):
    return bin(v).count("1") & 1


def gf_mul(a, b, modulus, bits):
    product = 0
    while b:
        if b & 1:
            product ^= a
        a <<= 1
        if a >> bits:
            a ^= modulus
        b >>= 1
    return product


def mul8(a, b):
    return gf_mul(a, b, 0x11B, 8)  # FIPS-197 section 4.2


def mul4(a, b):
    return gf_mul(a, b, 0x13, 4)  # z^4 + z + 1: any irreducible quartic will do


def power8(a, n):
    result = 1
    for _ in range(n):
        result = mul8(result, a)
    return result


INVERSE8 = [0] + [power8(x, 254) for x in range(1, 256)]
INVERSE4 = [0] + [next(y for y in range(1, 16) if mul4(x, y) == 1) for x in range(1, 16)]


def rotl8(b, n):
    return ((b << n) | (b >> (8 - n))) & 0xFF


def affine_linear(b):
    """FIPS-197 section 5.1.1 without the constant."""
    return b ^ rotl8(b, 1) ^ rotl8(b, 2) ^ rotl8(b, 3) ^ rotl8(b, 4)


def inverse_affine_linear(b):
    """FIPS-197 section 5.3.2 without its constant 0x05."""
    return rotl8(b, 1) ^ rotl8(b, 3) ^ rotl8(b, 6)


SBOX = [affine_linear(INVERSE8[x]) ^ 0x63 for x in range(256)]
INVERSE_SBOX = [0] * 256
for _x in range(256):
    INVERSE_SBOX[SBOX[_x]] = _x
assert SBOX[0x53] == 0xED and INVERSE_SBOX[0] == 0x52


def apply(columns, v):
    """A linear map given by the images of the unit vectors."""
    result = 0
    for i, column in enumerate(columns):
        if v >> i & 1:
            result ^= column
    return result


def inverse_map(columns):
    image = {apply(columns, v): v for v in range(1 << len(columns))}
    return tuple(image[1 << i] for i in range(len(columns)))


def bases4():
    """Every invertible 4x4 matrix over GF(2), in a fixed order."""
    def extend(columns, span):
        if len(columns) == 4:
            yield tuple(columns)
            return
        for c in range(1, 16):
            if c not in span:
                yield from extend(columns + [c], span | {s ^ c for s in span})
    yield from extend([], {0})


# --- Evaluating gate lists ------------------------------------------------
# A value is an int whose bit j is the value for input j: all 256 inputs at
# once.

def gates_of(text):
    gates = []
    for line in text.strip().splitlines():
        if not line.startswith("//"):
            target, expression = line.split(" = ")
            left, op, right = expression.split()
            gates.append((target, left, op, right))
    return gates


def run(gates, values):
    values = dict(values)
    for target, left, op, right in gates:
        if op == "^":
            values[target] = values[left] ^ values[right]
        else:
            values[target] = values[left] & values[right]
    return values


MIDDLE_GATES = gates_of(MIDDLE)


def middle_inversion(v):
    """The middle's GF(2^4) part: (m20..m23) -> (m37..m40), bit i = m20 + i."""
    values = {f"m{20 + i}": v >> i & 1 for i in range(4)}
    values = run([g for g in MIDDLE_GATES if g[0][0] == "i" or g[0] in ("m37", "m38", "m39",
                                                                          "m40")], values)
    return sum(values[f"m{37 + i}"] << i for i in range(4))


def middle_first_stage(a, b):
    """(m20..m23) from the halves' coordinates with the norm's linear part 0."""
    values = {name: 0 for name in NORM_LINEAR}
    for k, combination in enumerate(KARATSUBA):
        values[HALF_A[k]] = parity(a & combination)
        values[HALF_B[k]] = parity(b & combination)
    values = run([g for g in MIDDLE_GATES if int(g[0][1:]) <= 23 and g[0][0] == "m"], values)
    return sum(values[f"m{20 + i}"] << i for i in range(4))


# --- 1. The field GF(2^4) of the middle -------------------------------------

def bilinear_vector(f):
    """A bilinear form on two 4-bit vectors as the 16 coefficients of u_i v_j."""
    return sum(f(1 << i, 1 << j) << (4 * i + j) for i in range(4) for j in range(4))


def reduce_against(basis, v):
    for b in basis:
        v = min(v, v ^ b)
    return v


def echelon(vectors):
    basis = []
    for v in vectors:
        v = reduce_against(basis, v)
        if v:
            basis.append(v)
            basis.sort(reverse=True)
    return basis


KARATSUBA_PRODUCTS = echelon(
    [bilinear_vector(lambda u, v, c=c: parity(u & c) & parity(v & c)) for c in KARATSUBA])


def field_of_middle():
    """Bases P (of m20..m23), Q (of m37..m40) and R (of a and b) in which the
    middle's inversion is the inverse and its products are products."""
    inversion = [middle_inversion(v) for v in range(16)]
    for p in bases4():
        p_inverse = inverse_map(p)
        q = tuple(inversion[apply(p_inverse, INVERSE4[1 << i])] for i in range(4))
        if len(set(apply(q, w) for w in range(16))) < 16 or any(
                apply(q, INVERSE4[apply(p, v)]) != inversion[v] for v in range(16)):
            continue
        q_inverse = inverse_map(q)
        for r in bases4():
            if all(reduce_against(KARATSUBA_PRODUCTS, bilinear_vector(
                    lambda u, a, bit=bit: mul4(apply(q_inverse, u), apply(r, a)) >> bit & 1)) == 0
                   for bit in range(4)):
                return p, q, r
    raise SystemExit("no field in which the middle inverts")


# --- 2. One top layer -------------------------------------------------------

def tower_top(p, r):
    """Linear forms of the input bits (bit i: input bit i) for each middle
    input, from the first tower GF(2^4)[Y]/(Y^2 + tau Y + nu) that works."""
    p_inverse = inverse_map(p)
    r_inverse = inverse_map(r)
    # The middle's first stage is mu * a * b with a and b read in basis R.
    mu = mul4(apply(p, middle_first_stage(1, 1)), INVERSE4[mul4(apply(r, 1), apply(r, 1))])
    assert all(apply(p, middle_first_stage(a, b)) == mul4(mu, mul4(apply(r, a), apply(r, b)))
               for a in range(16) for b in range(16))
    for tau in range(1, 16):
        for nu in range(1, 16):
            if any(mul4(y, y) ^ mul4(tau, y) ^ nu == 0 for y in range(16)):
                continue

            def mul(x, y, tau=tau, nu=nu):  # (x0 + x1 Y)(y0 + y1 Y), Y^2 = tau Y + nu
                x0, x1, y0, y1 = x & 15, x >> 4, y & 15, y >> 4
                high = mul4(x1, y1)
                low = mul4(x0, y0) ^ mul4(high, nu)
                return low | (mul4(x0, y1) ^ mul4(x1, y0) ^ mul4(high, tau)) << 4

            # A root of the AES polynomial x^8 + x^4 + x^3 + x + 1: the
            # first, in the order of the tower's elements.
            for g in range(2, 256):
                powers = [1]
                for _ in range(8):
                    powers.append(mul(powers[-1], g))
                if powers[8] ^ powers[4] ^ powers[3] ^ powers[1] ^ powers[0] == 0:
                    break
            # x = alpha Y^16 + beta Y with Y^16 = Y + tau: d = lambda N(x),
            # N(x) = x x^16 = (alpha^2 + beta^2) nu + alpha beta tau^2.
            lam = mul4(mu, INVERSE4[mul4(tau, tau)])
            forms = {name: 0 for name in MIDDLE_INPUTS}
            for i in range(8):
                element = powers[i]
                alpha = mul4(element & 15, INVERSE4[tau])
                beta = (element >> 4) ^ alpha
                a, b = apply(r_inverse, alpha), apply(r_inverse, beta)
                s = alpha ^ beta
                norm_linear = apply(p_inverse, mul4(lam, mul4(nu, mul4(s, s))))
                for k, combination in enumerate(KARATSUBA):
                    forms[HALF_A[k]] |= parity(a & combination) << i
                    forms[HALF_B[k]] |= parity(b & combination) << i
                for k, name in enumerate(NORM_LINEAR):
                    forms[name] |= (norm_linear >> k & 1) << i
            return forms
    raise SystemExit("no tower")


# --- Linear maps on 256 inputs ----------------------------------------------

def planes_of(f):
    """Input planes: plane i has bit j set when bit i of f(j) is."""
    return [sum((f(j) >> i & 1) << j for j in range(256)) for i in range(8)]


INPUT_PLANES = planes_of(lambda j: j)


def evaluate_forms(forms, planes):
    return {name: apply(planes, form) for name, form in forms.items()}


def solve(products, target):
    """The products (name -> 256-bit value) whose sum is target, as a mask
    over their order; exact, or an error."""
    names = list(products)
    rows = []  # (value, mask)
    for k, name in enumerate(names):
        value, mask = products[name], 1 << k
        for row_value, row_mask in rows:
            if value ^ row_value < value:
                value, mask = value ^ row_value, mask ^ row_mask
        if value:
            rows.append((value, mask))
            rows.sort(reverse=True)
    value, mask = target, 0
    for row_value, row_mask in rows:
        if value ^ row_value < value:
            value, mask = value ^ row_value, mask ^ row_mask
    if value:
        raise SystemExit("the products do not give the S-box")
    return mask


def bottom_layer(top, output_of):
    """Each output bit as a mask over MIDDLE_OUTPUTS."""
    values = run(MIDDLE_GATES, evaluate_forms(top, INPUT_PLANES))
    products = {name: values[name] for name in MIDDLE_OUTPUTS}
    return [solve(products, plane) for plane in planes_of(output_of)]


# --- 5. Boyar and Peralta's shortest-linear-program heuristic ---------------

@functools.lru_cache(maxsize=None)
def shortest_linear_program(targets, inputs):
    """XOR gates (new, left, right) over vectors of `inputs` bits computing
    every target; base elements are named by their vectors."""
    size = 1 << inputs
    base = [1 << i for i in range(inputs)]
    # distance[v]: the fewest base elements whose sum is v.
    distance = bytes(bin(v).count("1") for v in range(size))
    program = []
    while True:
        wanted = [t for t in targets if distance[t] > 1]
        if not wanted:
            return program
        best = None
        for i in range(len(base)):
            for j in range(i + 1, len(base)):
                s = base[i] ^ base[j]
                if distance[s] == 1:
                    continue
                new = [min(distance[t], distance[t ^ s] + 1) - 1 for t in wanted]
                key = (sum(new), -sum(d * d for d in new))
                if best is None or key < best[0]:
                    best = (key, s, base[i], base[j])
        _, s, left, right = best
        program.append((s, left, right))
        base.append(s)
        # With s in the base, v is also s plus the sum for v + s.
        distance = byte_minimum(distance, xor_shifted(distance, s, inputs).translate(PLUS_ONE))


PLUS_ONE = bytes(min(d + 1, 127) for d in range(256))


def byte_minimum(a, b):
    """The smaller of each pair of entries (below 128), on whole integers:
    with bit 7 set in every byte of a, a - b keeps it where a >= b."""
    high = int.from_bytes(b"\x80" * len(a), "little")
    x, y = int.from_bytes(a, "little"), int.from_bytes(b, "little")
    keep = (((x | high) - y) & high) >> 7
    return (x ^ ((x ^ y) & keep * 0xFF)).to_bytes(len(a), "little")


def xor_shifted(table, s, bits):
    """The table with entry v at v + s: rows of 2^(bits/2) entries moved as
    wholes, then each row's entries."""
    width = 1 << bits // 2
    low, high = s & (width - 1), s >> bits // 2
    within = operator.itemgetter(*(v ^ low for v in range(width)))
    rows = [table[h * width:(h + 1) * width] for h in range(len(table) // width)]
    return b"".join(bytes(within(rows[h ^ high])) for h in range(len(rows)))


# --- 6. Order and names -----------------------------------------------------

def circuit_function(name, variable, forms, masks):
    """C++ for one whole circuit: the top layer's gates in the order the
    heuristic found them, the middle's in their order, each bottom gate as
    soon as its operands are known. Returns the lines and the XOR counts."""
    top = top_program(forms)
    bottom = shortest_linear_program(tuple(masks), len(MIDDLE_OUTPUTS))
    top_gates = {v: (left, right) for v, left, right in top}
    top_names = {1 << i: f"{variable}[{i}]" for i in range(8)}
    target_of = {}
    for t in MIDDLE_INPUTS:
        target_of.setdefault(forms[t], t)
    output_of = {}
    for i, mask in enumerate(masks):
        output_of.setdefault(mask, f"s[{i}]")
    bottom_names = {}  # the bottom layer's operands computed so far
    pending = list(bottom)
    lines = []
    temporaries = {"a": 0, "b": 0}

    def new_value(v, left, right, names, outputs, prefix):
        target = outputs.get(v)
        if target is None:
            target = f"{prefix}{temporaries[prefix]}"
            temporaries[prefix] += 1
            lines.append(f"  const Word {target} = {left} ^ {right};")
        elif target.startswith("s["):
            lines.append(f"  {target} = {left} ^ {right};")
        else:
            lines.append(f"  const Word {target} = {left} ^ {right};")
        names[v] = target

    def top_value(v):
        if v not in top_names:
            left, right = (top_value(u) for u in top_gates[v])
            new_value(v, left, right, top_names, target_of, "a")
        return top_names[v]

    def ready_bottom_gates():
        progress = True
        while progress:
            progress = False
            for gate in list(pending):
                v, left, right = gate
                if left in bottom_names and right in bottom_names:
                    pending.remove(gate)
                    new_value(v, bottom_names[left], bottom_names[right], bottom_names,
                              output_of, "b")
                    progress = True

    for v, _, _ in top:
        top_value(v)
    for target, left, op, right in MIDDLE_GATES:
        left, right = (top_value(forms[v]) if v in forms else v for v in (left, right))
        lines.append(f"  const Word {target} = {left} {op} {right};")
        if target in MIDDLE_OUTPUTS:
            bottom_names[1 << MIDDLE_OUTPUTS.index(target)] = target
            ready_bottom_gates()
    assert not pending
    # Outputs that are a product itself or repeat another output.
    for i, mask in enumerate(masks):
        if bottom_names[mask] != f"s[{i}]":
            lines.append(f"  s[{i}] = {bottom_names[mask]};")
    return (["template <typename Word>",
             f"constexpr Planes<Word> {name}(const Planes<Word>& {variable}) {{",
             "  Planes<Word> s{};", *lines, "  return s;", "}"], len(top), len(bottom))


# --- The circuits, checked ----------------------------------------------------

def check(top, bottom_masks, sbox):
    """The top forms, the middle and the bottom masks against sbox."""
    values = run(MIDDLE_GATES, evaluate_forms(top, INPUT_PLANES))
    for bit, mask in enumerate(bottom_masks):
        plane = 0
        for k, name in enumerate(MIDDLE_OUTPUTS):
            if mask >> k & 1:
                plane ^= values[name]
        if plane != planes_of(sbox)[bit]:
            raise SystemExit("a circuit does not compute its S-box")


def check_written(function, variable, sbox):
    """The C++ function's statements, run on all 256 inputs."""
    values = {f"{variable}[{i}]": plane for i, plane in enumerate(INPUT_PLANES)}
    for line in function:
        statement = line.strip().removeprefix("const Word ").rstrip(";").split()
        if len(statement) == 5 and statement[1] == "=" and statement[3] in ("^", "&"):
            target, _, left, op, right = statement
            values[target] = (values[left] ^ values[right] if op == "^" else
                              values[left] & values[right])
        elif len(statement) == 3 and statement[1] == "=" and statement[0].startswith("s["):
            values[statement[0]] = values[statement[2]]
    if [values[f"s[{i}]"] for i in range(8)] != planes_of(sbox):
        raise SystemExit("a written circuit does not compute its S-box")


def compose(forms, linear):
    """Forms of x turned into forms of y with x = linear(y)."""
    return {name: sum(parity(form & linear(1 << i)) << i for i in range(8))
            for name, form in forms.items()}


def top_program(forms):
    vectors = sorted({f for f in forms.values() if bin(f).count("1") > 1})
    return shortest_linear_program(tuple(vectors), 8)


def weight(forms):
    return sum(bin(form).count("1") for form in forms)


def best_layers(base_top, input_map, output_of):
    """Of the layers under x -> c x^(2^k), those whose circuit takes the
    fewest XORs: the heuristic runs on the 16 with the fewest terms. k runs
    to 3: x -> x^16 only swaps the halves, which costs the same."""
    layers = []
    for k in range(4):
        for c in range(1, 256):
            def f(x, c=c, k=k):
                for _ in range(k):
                    x = mul8(x, x)
                return mul8(c, x)
            top = compose(base_top, lambda y, f=f: f(input_map(y)))
            bottom = bottom_layer(top, output_of)
            layers.append((weight(top.values()) + weight(bottom), k, c, top, bottom))
    layers.sort(key=lambda e: e[:3])

    def xors(top, bottom):
        return (len(top_program(top)) +
                len(shortest_linear_program(tuple(bottom), len(MIDDLE_OUTPUTS))))
    return min(((xors(top, bottom), k, c, top, bottom) for _, k, c, top, bottom in layers[:16]),
               key=lambda e: e[:3])


def derive():
    p, _, r = field_of_middle()
    base_top = tower_top(p, r)
    # 3. For each direction its own best layers: the S-box's, and the
    # inverse's through the inverse affine transformation.
    _, k, c, forward_top, forward_bottom = best_layers(
        base_top, lambda x: x, lambda x: affine_linear(INVERSE8[x]))
    _, ik, ic, inverse_top, inverse_bottom = best_layers(
        base_top, inverse_affine_linear, lambda y: INVERSE8[inverse_affine_linear(y)])
    # The same checks as the C++'s static_asserts, with the gates written.
    check(forward_top, forward_bottom, lambda x: SBOX[x] ^ 0x63)
    check(inverse_top, inverse_bottom, lambda y: INVERSE_SBOX[y ^ 0x63])
    return forward_top, inverse_top, forward_bottom, inverse_bottom, ((k, c), (ik, ic))


def render(forward_top, inverse_top, forward_bottom, inverse_bottom, choice):
    (k, c), (ik, ic) = choice
    ands = sum(1 for g in MIDDLE_GATES if g[2] == "&")
    middle_xors = len(MIDDLE_GATES) - ands
    forward, top, bottom = circuit_function("subBytes", "x", forward_top, forward_bottom)
    counts = {"forward top": top, "forward bottom": bottom}
    forward[0:0] = [
        f"// SubBytes less its constant: S(x) ^ 0x63. {ands} AND, "
        f"{top + middle_xors + bottom} XOR ({top} above the",
        f"// middle, {middle_xors} in it, {bottom} below). The input in the tower basis: "
        f"{c:#04x} x^{1 << k}.",
    ]
    inverse, top, bottom = circuit_function("invSubBytes", "y", inverse_top,
                                             inverse_bottom)
    counts.update({"inverse top": top, "inverse bottom": bottom})
    inverse[0:0] = [
        f"// InvSubBytes of the input plus the constant: S^-1(y ^ 0x63). {ands} AND, "
        f"{top + middle_xors + bottom}",
        f"// XOR ({top} above the middle, {middle_xors} in it, {bottom} below). The input "
        "in the tower",
        f"// basis: {ic:#04x} y'^{1 << ik}, y' the inverse affine transformation's linear "
        "part of y.",
    ]
    # What is written, run on all 256 inputs.
    check_written(forward, "x", lambda x: SBOX[x] ^ 0x63)
    check_written(inverse, "y", lambda y: INVERSE_SBOX[y ^ 0x63])
    lines = [
        "// Generated by tools/sbox_circuits.py: do not edit; run the script instead.",
        "//",
        "// The bitsliced S-box circuits (see bitsliced/circuits.hpp) on planes of",
        "// any unsigned word type, x[i] the plane of bit i: Boyar and Peralta's",
        "// nonlinear middle, its variables under their names (t1 ... t27 and u7 in,",
        "// m46 ... m63 out), with the linear layers above (a0 ...) and below (b0 ...)",
        "// that the script derives. Each top gate comes just before its value is",
        "// first needed and each bottom gate as soon as its operands are known: the",
        "// compilers allocate registers largely in the order written, and the",
        "// circuit holds more values than x86-64 has registers.",
        "#pragma once",
        "",
        '#include "bitsliced/layout.hpp"',
        "",
        "namespace aes128::bitsliced {",
        "",
        *forward,
        "",
        *inverse,
        "",
        "}  // namespace aes128::bitsliced",
        "",
    ]
    return lines, counts


def main():
    mode = sys.argv[1:]
    if mode not in ([], ["--check"]):
        sys.exit("usage: tools/sbox_circuits.py [--check]")
    text, counts = render(*derive())
    text = "\n".join(text)
    if mode:
        committed = OUTPUT.read_text() if OUTPUT.exists() else ""
        if committed != text:
            sys.stdout.writelines(difflib.unified_diff(
                committed.splitlines(True), text.splitlines(True),
                str(OUTPUT.relative_to(ROOT)), "tools/sbox_circuits.py"))
            sys.exit(f"{OUTPUT.relative_to(ROOT)} differs from what tools/sbox_circuits.py writes")
        print(f"{OUTPUT.relative_to(ROOT)} is what tools/sbox_circuits.py writes "
              f"({', '.join(f'{n}: {c} XOR' for n, c in counts.items())})")
    else:
        OUTPUT.write_text(text)
        print(f"wrote {OUTPUT.relative_to(ROOT)} "
              f"({', '.join(f'{n}: {c} XOR' for n, c in counts.items())})")


if __name__ == "__main__":
    main()
