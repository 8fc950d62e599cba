// SPDX-License-Identifier: MIT
// Searches logic circuits for the eight DES S-boxes, and makes the header
// sbox_circuits.hpp from what it found. The steps are separate because the
// searches take many minutes:
//
//   gen_sbox_circuits search [effort [three-input effort]] > sbox_circuits.txt
//   gen_sbox_circuits improve RECORD [steps [seed]] > sbox_circuits.txt
//   gen_sbox_circuits resub RECORD > sbox_circuits.txt
//   gen_sbox_circuits rebuild RECORD [effort [rounds [S-box]]] > sbox_circuits.txt
//   gen_sbox_circuits resplit RECORD [effort [S-box]] > sbox_circuits.txt
//   gen_sbox_circuits window RECORD [largest window [conflicts [S-box]]] > sbox_circuits.txt
//   gen_sbox_circuits complement RECORD [conflicts] > sbox_circuits.txt
//   gen_sbox_circuits merge RECORD [OTHER...] > sbox_circuits.txt
//   gen_sbox_circuits sbox_circuits.txt > sbox_circuits.hpp
//
// The first builds circuits and writes them as plain text (the record,
// checked in beside this file); the second walks from a record's circuits
// to smaller ones that compute the same S-boxes (below) and writes the
// record again; the third rebuilds gates of a record's two-input circuits
// with fewer new ones (below) and writes the record again; the fourth
// builds some output bits of a record's circuits again on the gates the
// others need (below) and writes the record again; the fifth builds the
// three-input circuits again with a search that may also split on computed
// values (below) and writes the record again; the sixth replaces
// small windows of gates by fewer ones that a SAT solver finds (below) and
// writes the record again; the seventh holds inputs, gates and outputs of the
// two-input circuits complemented where that saves NOTs (below) and writes
// the record again; the eighth chooses, for each circuit, the fewest of
// the values that the record's and other records' circuits compute (below)
// and writes the record again; the last reads a record, checks that
// every circuit computes its S-box (complemented as the record says) on
// all 64 inputs, and prints the header, which a test compares byte for byte with the
// checked-in one. The searches are deterministic: no floating point, no
// iteration over a hash table, every nested construction in named steps,
// the walk's random numbers from its own generator with a fixed seed, so
// running them again by hand gives the same record on any compiler and
// machine. How the checked-in record was reached, run by run, is in
// README.md beside this file.
//
// A function of the six S-box inputs is a 64-bit truth table (bit x holds its
// value at input x, with x0 in bit 5 of x). The circuit under construction
// keeps every value it has computed, hash-consed by truth table, so a value
// found once is reused by all four output bits. A wanted function is a pair
// of sets (inputs where it must be 1, inputs where it must be 0); the rest
// are free, which lets an existing value stand in for it more often.
//
// A wanted function is obtained, cheapest first, as
//   - a value already in the circuit;
//   - one gate (AND, OR, XOR, AND-NOT) on two values already in the circuit;
//   - two gates, op1(a, op2(b, d)), on three values already in the circuit;
//   - a split on one input s it depends on (s or its complement), into two
//     functions that no longer depend on s:
//       f = g ^ (s & h),  f = g | (s & h),  f = g & ~(s & h),
//       f = (g & ~s) | (s & h),
//     g first, then h from what g turned out to be.
// Which split is taken is decided by trying every one, finishing each trial
// with the search one level less thorough (at the lowest level, the first
// split that applies), and keeping the cheapest: the pilot method. The four
// output bits are built in every order and the smallest circuit kept.
//
// The three-input form (vpternlog) comes from the same search run with
// three-input operations: a lookup may combine any two or three existing
// values, or be two operations op(a, b, op'(d, e, f)) on five, and a split
// is one operation on (s, g, h). The two-input circuit packed into
// three-input operations (a gate with a single consumer merged into it while
// the result has at most three distinct inputs) is the fallback where that
// is smaller.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/wait.h>

#include "sbox_circuit_types.hpp"
#include "tables.hpp"

namespace {

using TT = std::uint64_t;

enum Op : int { AND, OR, XOR, ANDN }; // ANDN: a & ~b
constexpr int inputs = 6, zero = 6, ones = 7, first_gate = 8;

constexpr TT var_tt(int i) {
    TT t = 0;
    for (unsigned x = 0; x < 64; ++x)
        if ((x >> (5 - i)) & 1u)
            t |= TT{1} << x;
    return t;
}

TT apply(int op, TT a, TT b) {
    switch (op) {
    case AND:
        return a & b;
    case OR:
        return a | b;
    case XOR:
        return a ^ b;
    default:
        return a & ~b;
    }
}

// op is one of the four two-input gates, or TERN: the three-input function
// whose truth table is imm (bit 4a + 2b + c for the values a, b, c).
constexpr int TERN = 4;
struct Gate {
    int op, a, b, c = zero, imm = 0;
};

TT apply3(unsigned imm, TT a, TT b, TT c) {
    TT r = 0;
    for (unsigned k = 0; k < 8; ++k)
        if ((imm >> k) & 1u)
            r |= ((k & 4u) ? a : ~a) & ((k & 2u) ? b : ~b) & ((k & 1u) ? c : ~c);
    return r;
}

// Whether the search builds three-input operations (vpternlog) instead of
// two-input gates (set per thread: `rebuild` runs searches of both kinds
// side by side).
thread_local bool ternary = false;

// Must be 1 on `on`, 0 on `off`.
struct Want {
    TT on, off;
};

bool meets(TT t, Want s) {
    return (t & s.on) == s.on && (t & s.off) == 0;
}

// The truth table with the two halves split by input v exchanged.
TT swap_var(TT t, int v) {
    const unsigned k = 5 - v, sh = 1u << k;
    const TT lo = ~var_tt(v);
    return ((t >> sh) & lo) | ((t & lo) << sh);
}

// The wanted function made independent of input v, or false where it cannot be.
bool project(Want &s, int v) {
    const Want p{s.on | swap_var(s.on, v), s.off | swap_var(s.off, v)};
    if (p.on & p.off)
        return false;
    s = p;
    return true;
}

// The inputs the wanted function cannot do without; s is made independent of the others.
unsigned dependent(Want &s) {
    unsigned deps = 0;
    for (int v = 0; v < inputs; ++v)
        if (!project(s, v))
            deps |= 1u << v;
    return deps;
}

struct Circuit {
    std::vector<TT> tt;
    std::vector<Gate> gates;
    std::unordered_map<TT, int> index;

    Circuit() {
        for (int i = 0; i < inputs; ++i)
            push(var_tt(i));
        push(0);
        push(~TT{0});
    }
    void push(TT t) {
        index.emplace(t, static_cast<int>(tt.size()));
        tt.push_back(t);
    }
    int gate(int op, int a, int b) {
        const TT t = apply(op, tt[a], tt[b]);
        if (auto it = index.find(t); it != index.end())
            return it->second;
        gates.push_back({op, a, b});
        push(t);
        return static_cast<int>(tt.size()) - 1;
    }
    int gate3(unsigned imm, int a, int b, int c) {
        const TT t = apply3(imm, tt[a], tt[b], tt[c]);
        if (auto it = index.find(t); it != index.end())
            return it->second;
        gates.push_back({TERN, a, b, c, static_cast<int>(imm)});
        push(t);
        return static_cast<int>(tt.size()) - 1;
    }
    std::size_t size() const { return tt.size(); }
    void truncate(std::size_t n) {
        while (tt.size() > n) {
            index.erase(tt.back());
            tt.pop_back();
            gates.pop_back();
        }
    }
};

int find(const Circuit &c, Want s) {
    for (std::size_t i = 0; i < c.size(); ++i)
        if (meets(c.tt[i], s))
            return static_cast<int>(i);
    return -1;
}

// One gate on two existing values that meets s, added; -1 if there is none.
int find_one_gate(Circuit &c, Want s) {
    const int n = static_cast<int>(c.size());
    for (int a = 0; a < n; ++a) {
        const TT ta = c.tt[a];
        for (int b = 0; b < n; ++b) {
            const TT tb = c.tt[b];
            if (b > a) {
                if (meets(ta & tb, s))
                    return c.gate(AND, a, b);
                if (meets(ta | tb, s))
                    return c.gate(OR, a, b);
                if (meets(ta ^ tb, s))
                    return c.gate(XOR, a, b);
            }
            if (a != b && meets(ta & ~tb, s))
                return c.gate(ANDN, a, b);
        }
    }
    return -1;
}

// Two gates, op1(a, op2(b, d)) with a, b and d existing values, that meet s,
// added; -1 if there are none. (Cheaper than a split, which costs two gates
// before its parts.)
int find_two_gates(Circuit &c, Want s) {
    const int n = static_cast<int>(c.size());
    for (int b = 0; b < n; ++b)
        for (int d = 0; d < n; ++d) {
            if (d == b)
                continue;
            for (int op2 = 0; op2 < 4; ++op2) {
                if (op2 != ANDN && d < b)
                    continue;
                const TT t = apply(op2, c.tt[b], c.tt[d]);
                const bool covers = (t & s.on) == s.on, clear = (t & s.off) == 0,
                           misses = (t & s.on) == 0;
                for (int a = 0; a < n; ++a) {
                    const TT ta = c.tt[a];
                    int op1 = -1;
                    bool swap = false;
                    if (covers && meets(ta & t, s))
                        op1 = AND;
                    else if (clear && meets(ta | t, s))
                        op1 = OR;
                    else if (meets(ta ^ t, s))
                        op1 = XOR;
                    else if (misses && meets(ta & ~t, s))
                        op1 = ANDN;
                    else if (covers && meets(t & ~ta, s)) {
                        op1 = ANDN;
                        swap = true;
                    }
                    if (op1 < 0)
                        continue;
                    const int inner = c.gate(op2, b, d);
                    return swap ? c.gate(op1, inner, a) : c.gate(op1, a, inner);
                }
            }
        }
    return -1;
}

// Whether some function of (a, b, c) meets s; if so, imm is the one that
// gives 0 where s leaves the value free.
bool fits3(TT ta, TT tb, TT tc, Want s, unsigned &imm) {
    imm = 0;
    for (unsigned k = 0; k < 8; ++k) {
        const TT cls = ((k & 4u) ? ta : ~ta) & ((k & 2u) ? tb : ~tb) & ((k & 1u) ? tc : ~tc);
        const bool on = cls & s.on, off = cls & s.off;
        if (on && off)
            return false;
        if (on)
            imm |= 1u << k;
    }
    return true;
}

// One three-input operation on existing values that meets s, added; -1 if
// there is none. Pairs first, then triples.
int find_one_op3(Circuit &c, Want s) {
    const int n = static_cast<int>(c.size());
    unsigned imm;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            if (fits3(c.tt[a], c.tt[b], 0, s, imm))
                return c.gate3(imm, a, b, zero);
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int d = b + 1; d < n; ++d)
                if (fits3(c.tt[a], c.tt[b], c.tt[d], s, imm))
                    return c.gate3(imm, a, b, d);
    return -1;
}

// The wants of an inner value c for which some operation op(a, b, c) meets
// `want`: within each of the four classes of inputs that a and b tell
// apart, the want must be constant there or follow c or its complement. The
// first class where it is not constant follows c; each choice for the
// others gives one want, handed to take() until it returns true. None where
// a and b alone would do.
template <class Take> bool inner_wants(TT ta, TT tb, Want want, Take take) {
    std::array<Want, 4> mixed;
    int count = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const TT cls = ((k & 2u) ? ta : ~ta) & ((k & 1u) ? tb : ~tb);
        if ((cls & want.on) && (cls & want.off))
            mixed[count++] = {cls & want.on, cls & want.off};
    }
    for (unsigned flips = 0; count > 0 && flips < (1u << (count - 1)); ++flips) {
        Want inner = mixed[0];
        for (int i = 1; i < count; ++i) {
            const bool flip = (flips >> (i - 1)) & 1u;
            inner.on |= flip ? mixed[i].off : mixed[i].on;
            inner.off |= flip ? mixed[i].on : mixed[i].off;
        }
        if (take(inner))
            return true;
    }
    return false;
}

// Two three-input operations, op(a, b, op'(d, e, f)) on existing values,
// that meet s, added; -1 if there are none. Within each of the four classes
// of inputs that a and b tell apart, s must be constant there or follow the
// inner value or its complement; each choice of which gives the want of the
// inner operation, looked up among all triples.
int find_two_op3(Circuit &c, Want s) {
    const int n = static_cast<int>(c.size());
    struct Triple {
        int a, b, d;
        std::array<TT, 8> cls;
    };
    std::vector<Triple> triples;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int d = b + 1; d < n; ++d) {
                if (a == zero || a == ones || b == ones || d == ones)
                    continue; // constants other than a single zero add nothing
                Triple t{a, b, d, {}};
                for (unsigned k = 0; k < 8; ++k)
                    t.cls[k] = ((k & 4u) ? c.tt[a] : ~c.tt[a]) & ((k & 2u) ? c.tt[b] : ~c.tt[b]) &
                               ((k & 1u) ? c.tt[d] : ~c.tt[d]);
                triples.push_back(t);
            }
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b) {
            if (a == zero || a == ones || b == zero || b == ones)
                continue;
            const TT ta = c.tt[a], tb = c.tt[b];
            int found = -1;
            inner_wants(ta, tb, s, [&](Want inner_want) {
                for (const Triple &t : triples) {
                    bool ok = true;
                    for (unsigned k = 0; k < 8 && ok; ++k)
                        ok = !((t.cls[k] & inner_want.on) && (t.cls[k] & inner_want.off));
                    if (!ok)
                        continue;
                    unsigned imm, outer_imm;
                    fits3(c.tt[t.a], c.tt[t.b], c.tt[t.d], inner_want, imm);
                    const int inner = c.gate3(imm, t.a, t.b, t.d);
                    fits3(ta, tb, c.tt[inner], s, outer_imm);
                    found = c.gate3(outer_imm, a, b, inner);
                    return true;
                }
                return false;
            });
            if (found >= 0)
                return found;
        }
    return -1;
}

// The immediate of f(A, B, C) for vpternlog.
template <class F> unsigned imm_of(F f) {
    unsigned imm = 0;
    for (unsigned k = 0; k < 8; ++k)
        if (f((k >> 2) & 1u, (k >> 1) & 1u, k & 1u))
            imm |= 1u << k;
    return imm;
}

enum Form { F_XOR, F_OR, F_ANDN, F_MUX };
// A split on value v: an input, or (`computed`) a value the circuit has
// already computed, whose parts are then only looked up, not searched.
struct Split {
    int v, pol, form;
    bool computed = false;
};

// Whether the three-input search may also split on computed values (set
// per thread by `resplit`).
thread_local bool value_splits = false;

int synth(Circuit &c, Want s, int effort);

// A value that meets s, or one operation on existing values that does
// (added); -1 if there is none.
int look_up3(Circuit &c, Want s) {
    if (const int n = find(c, s); n >= 0)
        return n;
    return find_one_op3(c, s);
}

// s & h, or ~s & h, with s the input v.
int select(Circuit &c, int v, int pol, int h) {
    return pol == 0 ? c.gate(AND, v, h) : c.gate(ANDN, h, v);
}

// Builds f by the split; -1 where the split does not apply.
int apply_split(Circuit &c, Want f, unsigned deps, Split sp, int effort) {
    const TT sv = c.tt[sp.v];
    const TT h1 = sp.pol == 0 ? sv : ~sv, h0 = ~h1;
    if (sp.computed && !((f.on | f.off) & h1 && (f.on | f.off) & h0))
        return -1; // all that matters lies on one side
    // A part: searched where it needs fewer inputs, looked up where the
    // split is on a computed value (so the search always ends).
    const auto part = [&](Want sub) {
        if (sp.computed)
            return look_up3(c, sub);
        if (const int n = find(c, sub); n >= 0)
            return n;
        const unsigned d = dependent(sub);
        return d & ~deps || d == deps ? -1 : synth(c, sub, effort);
    };
    Want gs, hs;
    switch (sp.form) {
    case F_XOR:
    case F_MUX:
        gs = {f.on & h0, f.off & h0};
        break;
    case F_OR:
        gs = {f.on & h0, f.off};
        break;
    default:
        gs = {f.on, f.off & h0};
        break;
    }
    const int g = part(gs);
    if (g < 0)
        return -1;
    const TT tg = c.tt[g];
    switch (sp.form) {
    case F_XOR:
        hs = {h1 & ((f.on & ~tg) | (f.off & tg)), h1 & ((f.off & ~tg) | (f.on & tg))};
        break;
    case F_MUX:
        hs = {f.on & h1, f.off & h1};
        break;
    case F_OR:
        hs = {h1 & f.on & ~tg, h1 & f.off};
        break;
    default:
        hs = {h1 & f.off & tg, h1 & f.on};
        break;
    }
    const int h = part(hs);
    if (h < 0)
        return -1;
    if (ternary) {
        // One operation on (s, g, h).
        const unsigned p = static_cast<unsigned>(sp.pol);
        unsigned imm;
        switch (sp.form) {
        case F_XOR:
            imm = imm_of([p](unsigned a, unsigned b, unsigned c) { return b ^ ((a ^ p) & c); });
            break;
        case F_OR:
            imm = imm_of([p](unsigned a, unsigned b, unsigned c) { return b | ((a ^ p) & c); });
            break;
        case F_ANDN:
            imm = imm_of([p](unsigned a, unsigned b, unsigned c) { return b & !((a ^ p) & c); });
            break;
        default:
            imm = imm_of([](unsigned a, unsigned b, unsigned c) { return a ? c : b; });
            break;
        }
        return c.gate3(imm, sp.v, g, h);
    }
    switch (sp.form) {
    case F_XOR:
        return c.gate(XOR, g, select(c, sp.v, sp.pol, h));
    case F_OR:
        return c.gate(OR, g, select(c, sp.v, sp.pol, h));
    case F_ANDN:
        return c.gate(ANDN, g, select(c, sp.v, sp.pol, h));
    default: {
        // Named steps: the order of a call's arguments is the compiler's to choose.
        const int when_set = c.gate(AND, sp.v, h);
        const int when_clear = c.gate(ANDN, g, sp.v);
        return c.gate(OR, when_clear, when_set);
    }
    }
}

int synth(Circuit &c, Want s, int effort) {
    if (const int n = find(c, s); n >= 0)
        return n;
    if (const int n = ternary ? find_one_op3(c, s) : find_one_gate(c, s); n >= 0)
        return n;
    if (const int n = ternary ? find_two_op3(c, s) : find_two_gates(c, s); n >= 0)
        return n;
    const unsigned deps = dependent(s);
    std::vector<Split> splits;
    for (int v = 0; v < inputs; ++v)
        if (deps >> v & 1u) {
            for (int form : {F_XOR, F_OR, F_ANDN})
                for (int pol = 0; pol < 2; ++pol)
                    splits.push_back({v, pol, form});
            splits.push_back({v, 0, F_MUX});
        }
    if (ternary && value_splits && effort > 0)
        for (int v = first_gate; v < static_cast<int>(c.size()); ++v)
            for (int form : {F_MUX, F_XOR, F_OR, F_ANDN})
                for (int pol = 0; pol < (form == F_MUX ? 1 : 2); ++pol)
                    splits.push_back({v, pol, form, true});
    if (effort == 0) {
        for (const Split &sp : splits)
            if (const int n = apply_split(c, s, deps, sp, 0); n >= 0)
                return n;
        std::fprintf(stderr, "no split applies\n");
        std::exit(1);
    }
    const std::size_t mark = c.size();
    std::size_t best_cost = SIZE_MAX;
    Split best{};
    for (const Split &sp : splits) {
        const int n = apply_split(c, s, deps, sp, effort - 1);
        if (n >= 0 && c.size() - mark < best_cost) {
            best_cost = c.size() - mark;
            best = sp;
        }
        c.truncate(mark);
    }
    return apply_split(c, s, deps, best, effort);
}

// Which inputs and outputs of each S-box its circuits hold complemented:
// none for a new search, else what the record read says (`complement`
// changes them, one S-box at a time). Set before any thread starts.
velk::bulk::Complement complement_of[8] = {};
using Complements = std::array<velk::bulk::Complement, 8>;

// Output bit j (0 = most significant) of S-box s as a truth table, as its
// circuits give it.
TT output_tt(int s, int j) {
    return velk::bulk::output_table(s, j, complement_of[s]);
}

struct Result {
    Circuit c;
    std::array<int, 4> out;
};

Result build(int s, const std::array<int, 4> &order, int effort) {
    Result r;
    for (int j : order) {
        const TT t = output_tt(s, j);
        r.out[j] = synth(r.c, {t, ~t}, effort);
    }
    return r;
}

// ---- Three-input packing ----

struct Gate3 {
    unsigned imm;
    int a, b, c;
};

struct Packed {
    std::vector<Gate3> ops;
    std::array<int, 4> out;
};

// The leaves (at most three values of the two-input circuit) each gate is
// computed from once merged, and its truth table over them.
Packed pack(const Circuit &c, const std::array<int, 4> &out) {
    const int n = static_cast<int>(c.size());
    std::vector<int> uses(n, 0);
    for (const Gate &g : c.gates) {
        ++uses[g.a];
        ++uses[g.b];
    }
    for (int o : out)
        uses[o] += 2; // an output is always its own operation
    // For each gate: its leaves and its function of them (3-bit truth table
    // over leaf values, as vpternlog's immediate: bit (A<<2 | B<<1 | C)).
    struct Cover {
        std::vector<int> leaves;
    };
    std::vector<Cover> cover(n);
    const auto leaves_of = [&](int node, std::vector<int> &acc) {
        if (node >= first_gate && uses[node] == 1)
            for (int l : cover[node].leaves)
                acc.push_back(l);
        else
            acc.push_back(node);
    };
    std::vector<bool> merged(n, false);
    for (int i = first_gate; i < n; ++i) {
        const Gate &g = c.gates[i - first_gate];
        // Try absorbing both, then the first, then the second, then none.
        std::vector<int> best;
        for (int mode = 0; mode < 4 && best.empty(); ++mode) {
            std::vector<int> acc;
            const bool ta = mode == 0 || mode == 1, tb = mode == 0 || mode == 2;
            if (ta && !(g.a >= first_gate && uses[g.a] == 1))
                continue;
            if (tb && !(g.b >= first_gate && uses[g.b] == 1))
                continue;
            if (ta)
                leaves_of(g.a, acc);
            else
                acc.push_back(g.a);
            if (tb)
                leaves_of(g.b, acc);
            else
                acc.push_back(g.b);
            std::sort(acc.begin(), acc.end());
            acc.erase(std::unique(acc.begin(), acc.end()), acc.end());
            // The constants are folded into the immediate.
            std::erase_if(acc, [](int l) { return l == zero || l == ones; });
            if (acc.size() <= 3) {
                best = acc;
                if (ta)
                    merged[g.a] = true;
                if (tb)
                    merged[g.b] = true;
            }
        }
        cover[i].leaves = best;
    }
    // Emit every gate not merged into its consumer, renumbered.
    Packed p;
    std::vector<int> number(n, -1);
    for (int i = 0; i < first_gate; ++i)
        number[i] = i;
    int next = first_gate;
    for (int i = first_gate; i < n; ++i) {
        if (merged[i])
            continue;
        const auto &leaves = cover[i].leaves;
        // Evaluate the node over the 8 leaf assignments.
        unsigned imm = 0;
        for (unsigned k = 0; k < 8; ++k) {
            // Give each leaf a value, propagate through the merged gates.
            std::vector<int> val(n, -1);
            for (std::size_t li = 0; li < leaves.size(); ++li)
                val[leaves[li]] = (k >> (2 - li)) & 1u;
            const auto eval = [&](auto &&self, int node) -> int {
                if (val[node] >= 0)
                    return val[node];
                if (node == zero)
                    return 0;
                if (node == ones)
                    return 1;
                const Gate &g = c.gates[node - first_gate];
                const int a = self(self, g.a), b = self(self, g.b);
                int r;
                switch (g.op) {
                case AND:
                    r = a & b;
                    break;
                case OR:
                    r = a | b;
                    break;
                case XOR:
                    r = a ^ b;
                    break;
                default:
                    r = a & !b;
                    break;
                }
                return val[node] = r;
            };
            if (eval(eval, i))
                imm |= 1u << k;
        }
        Gate3 g3{imm, zero, zero, zero};
        int *slots[3] = {&g3.a, &g3.b, &g3.c};
        for (std::size_t li = 0; li < leaves.size(); ++li)
            *slots[li] = number[leaves[li]];
        g3.imm = imm;
        p.ops.push_back(g3);
        number[i] = next++;
    }
    for (int j = 0; j < 4; ++j)
        p.out[j] = number[out[j]];
    return p;
}

// ---- The record: the circuits as text, and the header made from it ----

// The circuits of one S-box in both forms.
struct Circuits {
    std::vector<Gate> two;
    std::array<int, 4> out2;
    std::vector<Gate3> three;
    std::array<int, 4> out3;
};

const char *const gate_names[] = {"and", "or", "xor", "andn"};

// `bits` as `digits` binary digits, the most significant first.
std::string binary(unsigned bits, int digits) {
    std::string t;
    for (int i = digits - 1; i >= 0; --i)
        t += (bits >> i & 1u) ? '1' : '0';
    return t;
}

// The record: for each S-box a line "s<n> complement <six digits> <four
// digits>" (1 for each input x0-x5 and output bit, most significant first,
// that its circuits hold complemented), a line "s<n> 2 <gates> <four
// outputs>" followed by one "<op> <a> <b>" line per gate, then "s<n> 3
// <operations> <four outputs>" followed by one "<imm in hex> <a> <b> <c>"
// line per operation.
void print_record(const std::vector<Circuits> &all) {
    std::printf("# SPDX-License-Identifier: MIT\n"
                "# The S-box circuits found by `gen_sbox_circuits search`, `improve`,\n"
                "# `resub`, `rebuild`, `resplit`, `window`, `complement` and `merge`;\n"
                "# the header sbox_circuits.hpp is made from this file by\n"
                "# `gen_sbox_circuits FILE`.\n");
    for (int s = 0; s < 8; ++s) {
        const Circuits &c = all[s];
        const velk::bulk::Complement k = complement_of[s];
        std::printf("s%d complement %s %s\n", s + 1, binary(k.inputs, 6).c_str(),
                    binary(k.outputs, 4).c_str());
        std::printf("s%d 2 %zu %d %d %d %d\n", s + 1, c.two.size(), c.out2[0], c.out2[1], c.out2[2],
                    c.out2[3]);
        for (const Gate &g : c.two)
            std::printf("%s %d %d\n", gate_names[g.op], g.a, g.b);
        std::printf("s%d 3 %zu %d %d %d %d\n", s + 1, c.three.size(), c.out3[0], c.out3[1],
                    c.out3[2], c.out3[3]);
        for (const Gate3 &g : c.three)
            std::printf("%02x %d %d %d\n", g.imm, g.a, g.b, g.c);
    }
}

[[noreturn]] void bad_record(const char *path, const char *why) {
    std::fprintf(stderr, "gen_sbox_circuits: %s: %s\n", path, why);
    std::exit(1);
}

// Whether the operands name earlier values and the outputs give the S-box.
template <class G, class Eval>
bool computes(int s, const std::vector<G> &gates, const std::array<int, 4> &out, Eval eval) {
    std::vector<TT> v;
    for (int i = 0; i < inputs; ++i)
        v.push_back(var_tt(i));
    v.push_back(0);
    v.push_back(~TT{0});
    for (const G &g : gates) {
        const int at = static_cast<int>(v.size());
        if (g.a < 0 || g.b < 0 || g.c < 0 || g.a >= at || g.b >= at || g.c >= at)
            return false;
        v.push_back(eval(g, v));
    }
    for (int j = 0; j < 4; ++j)
        if (out[j] < 0 || out[j] >= static_cast<int>(v.size()) || v[out[j]] != output_tt(s, j))
            return false;
    return true;
}

// Whether both circuits of S-box s compute it, complemented as
// complement_of[s] says.
bool both_compute(int s, const Circuits &c) {
    return computes(s, c.two, c.out2,
                    [](const Gate &g, const std::vector<TT> &v) {
                        return apply(g.op, v[g.a], v[g.b]);
                    }) &&
           computes(s, c.three, c.out3, [](const Gate3 &g, const std::vector<TT> &v) {
               return apply3(g.imm, v[g.a], v[g.b], v[g.c]);
           });
}

// `digits` binary digits from `text` into bits; false where it is not that.
bool read_binary(const char *text, std::size_t digits, unsigned char &bits) {
    if (std::strlen(text) != digits || std::strspn(text, "01") != digits)
        return false;
    bits = static_cast<unsigned char>(std::strtoul(text, nullptr, 2));
    return true;
}

std::vector<Circuits> read_record(const char *path) {
    std::FILE *f = std::fopen(path, "r");
    if (!f)
        bad_record(path, "cannot open");
    std::vector<Circuits> all(8);
    int ch;
    while ((ch = std::fgetc(f)) == '#')
        while ((ch = std::fgetc(f)) != '\n' && ch != EOF) {
        }
    std::ungetc(ch, f);
    for (int s = 0; s < 8; ++s) {
        Circuits &c = all[s];
        int box;
        char in_digits[8], out_digits[6];
        if (std::fscanf(f, " s%d complement %7s %5s", &box, in_digits, out_digits) != 3 ||
            box != s + 1 || !read_binary(in_digits, 6, complement_of[s].inputs) ||
            !read_binary(out_digits, 4, complement_of[s].outputs))
            bad_record(path, "malformed complement line");
        for (int form = 2; form <= 3; ++form) {
            int kind, count;
            std::array<int, 4> &out = form == 2 ? c.out2 : c.out3;
            if (std::fscanf(f, " s%d %d %d %d %d %d %d", &box, &kind, &count, &out[0], &out[1],
                            &out[2], &out[3]) != 7 ||
                box != s + 1 || kind != form || count < 0 ||
                count >
                    static_cast<int>(form == 2 ? velk::bulk::max_gates2 : velk::bulk::max_gates3))
                bad_record(path, "malformed circuit heading");
            for (int i = 0; i < count; ++i) {
                if (form == 2) {
                    char name[8];
                    Gate g{0, 0, 0};
                    if (std::fscanf(f, " %7s %d %d", name, &g.a, &g.b) != 3)
                        bad_record(path, "malformed gate");
                    g.op = -1;
                    for (int op = AND; op <= ANDN; ++op)
                        if (std::string_view(name) == gate_names[op])
                            g.op = op;
                    if (g.op < 0)
                        bad_record(path, "unknown gate");
                    c.two.push_back(g);
                } else {
                    Gate3 g{0, 0, 0, 0};
                    if (std::fscanf(f, " %x %d %d %d", &g.imm, &g.a, &g.b, &g.c) != 4 ||
                        g.imm > 0xff)
                        bad_record(path, "malformed operation");
                    c.three.push_back(g);
                }
            }
        }
        if (!both_compute(s, c))
            bad_record(path, "a circuit does not compute its S-box");
    }
    if (std::fscanf(f, " %c", reinterpret_cast<char *>(&ch)) != EOF)
        bad_record(path, "text after the eighth S-box");
    std::fclose(f);
    return all;
}

const char *op_name(int op) {
    static const char *const names[] = {"g_and", "g_or", "g_xor", "g_andn"};
    return names[op];
}

void print_header(const std::vector<Circuits> &all) {
    std::printf("// SPDX-License-Identifier: MIT\n"
                "// Generated by tools/circuits/gen_sbox_circuits.cpp from its record,\n"
                "// tools/circuits/sbox_circuits.txt; do not edit. Regenerate with\n"
                "//   gen_sbox_circuits sbox_circuits.txt > sbox_circuits.hpp\n"
                "// and check the test that compares the two.\n"
                "#pragma once\n\n#include \"sbox_circuit_types.hpp\"\n\n"
                "namespace velk::bulk {\n\n");
    // The sizes on two plain lines, for scripts that report them (bench/run.sh).
    std::size_t total2 = 0, total3 = 0;
    std::printf("// Two-input gates per S-box:");
    for (const Circuits &c : all) {
        std::printf(" %zu", c.two.size());
        total2 += c.two.size();
    }
    std::printf("; total %zu\n// Three-input operations per S-box:", total2);
    for (const Circuits &c : all) {
        std::printf(" %zu", c.three.size());
        total3 += c.three.size();
    }
    std::printf("; total %zu\n\n", total3);
    std::printf("// Two-input circuits: values 0-5 are the inputs, 6 and 7 the constants 0\n"
                "// and all ones, 8 onwards the gates in order.\n");
    std::printf("inline constexpr Circuit2 circuits2[8] = {\n");
    for (const Circuits &c : all) {
        std::printf("    {%zu, {%d, %d, %d, %d}, {\n", c.two.size(), c.out2[0], c.out2[1],
                    c.out2[2], c.out2[3]);
        for (const Gate &g : c.two)
            std::printf("        {%s, %d, %d},\n", op_name(g.op), g.a, g.b);
        std::printf("    }},\n");
    }
    std::printf("};\n\n");
    std::printf("// Three-input circuits: each operation is vpternlog's immediate (bit\n"
                "// 4a + 2b + c of it is the result for inputs a, b, c) and its three values.\n");
    std::printf("inline constexpr Circuit3 circuits3[8] = {\n");
    for (const Circuits &c : all) {
        std::printf("    {%zu, {%d, %d, %d, %d}, {\n", c.three.size(), c.out3[0], c.out3[1],
                    c.out3[2], c.out3[3]);
        for (const Gate3 &g : c.three)
            std::printf("        {0x%02x, %d, %d, %d},\n", g.imm, g.a, g.b, g.c);
        std::printf("    }},\n");
    }
    std::printf("};\n\n");
    std::printf("// The inputs (bit 5 - i for x_i) and outputs (bit 3 - j for output j)\n"
                "// that both circuits of each S-box hold complemented.\n");
    std::printf("inline constexpr Complement complements[8] = {\n");
    for (const velk::bulk::Complement &k : complement_of)
        std::printf("    {0b%s, 0b%s},\n", binary(k.inputs, 6).c_str(),
                    binary(k.outputs, 4).c_str());
    std::printf("};\n\n} // namespace velk::bulk\n");
}

// ---- Improvement: a walk among circuits that compute the same S-box ----
//
// `improve` starts from a record's circuits and keeps the smallest circuit
// it meets on a walk among circuits that compute the same S-box. A step
// takes a live gate and gives it other operands:
//   - one operand replaced by a random earlier value, the operation chosen
//     anew (free choices at random) so that the gate keeps its value
//     wherever that value can reach an output: its care set, the inputs at
//     which complementing the gate changes an output (one evaluation of the
//     circuit with the gate complemented, all 64 inputs at once);
//   - now and then, every operand replaced by the pair or triple of earlier
//     values that frees the most gates (one operation on existing values),
//     or the gate rebuilt as two operations, the inner one in a dead gate's
//     place (a gate feeding nothing else is dropped with its cone);
//   - now and then, the live gates put in a random order of their
//     dependencies, so other values come before each gate.
// A step that keeps the size is always taken, one that adds a gate now and
// then while the size stays within two of the best, so the walk can leave
// a local minimum. The walk has its own random-number generator, seeded
// from the S-box, the form and the seed given, and each circuit is walked
// by itself (two at a time, on threads), so the record it prints depends
// only on the record read, the number of steps and the seed.

struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    unsigned below(std::size_t n) { return static_cast<unsigned>((next() >> 11) % n); }
};

struct Walk {
    struct Node {
        unsigned f; // the two-input gate's Op, or the three-input immediate
        int a, b, c;
    };
    int s;
    bool three;
    std::vector<Node> n;
    std::array<int, 4> out;
};

TT node_value(const Walk &w, const Walk::Node &x, const std::vector<TT> &v) {
    return w.three ? apply3(x.f, v[x.a], v[x.b], v[x.c])
                   : apply(static_cast<int>(x.f), v[x.a], v[x.b]);
}

// Two-input gate x as a table of its operands (bit 2a + b for the values
// a, b).
unsigned table2(const Walk::Node &x) {
    return static_cast<unsigned>(apply(static_cast<int>(x.f), 0xC, 0xA) & 0xF);
}

// The gate for table h, or -1: AND, OR, XOR, a & ~b, or b & ~a (AND-NOT with
// the operands exchanged, returned as ANDN + 4).
int gate_for(unsigned h) {
    switch (h) {
    case 0x8:
        return AND;
    case 0xE:
        return OR;
    case 0x6:
        return XOR;
    case 0x4:
        return ANDN;
    case 0x2:
        return ANDN + 4;
    default:
        return -1;
    }
}

// Whether value v is one of the two constants.
bool constant_value(int v) {
    return v == zero || v == ones;
}

// Marks the live values (the output bits in `bits`, all by default, and
// what they read); returns the number of live gates.
int mark_live(const Walk &w, std::vector<char> &live, unsigned bits = 15) {
    const int count = static_cast<int>(w.n.size());
    live.assign(first_gate + count, 0);
    for (int j = 0; j < 4; ++j)
        if (bits >> j & 1u)
            live[w.out[j]] = 1;
    int gates = 0;
    for (int i = count - 1; i >= 0; --i)
        if (live[first_gate + i]) {
            ++gates;
            const Walk::Node &x = w.n[i];
            live[x.a] = live[x.b] = 1;
            if (w.three)
                live[x.c] = 1;
        }
    return gates;
}

// Room for the values of a circuit of `count` gates, the inputs and the
// constants filled in.
std::vector<TT> fixed_values(std::size_t count) {
    std::vector<TT> v(first_gate + count);
    for (int i = 0; i < first_gate; ++i)
        v[i] = i < inputs ? var_tt(i) : i == zero ? 0 : ~TT{0};
    return v;
}

// The live gates' count, or -1 where the circuit does not compute its
// S-box; v gets every live value.
int evaluate(const Walk &w, std::vector<char> &live, std::vector<TT> &v) {
    const int gates = mark_live(w, live);
    for (std::size_t i = 0; i < w.n.size(); ++i)
        if (live[first_gate + i])
            v[first_gate + i] = node_value(w, w.n[i], v);
    for (int j = 0; j < 4; ++j)
        if (v[w.out[j]] != output_tt(w.s, j))
            return -1;
    return gates;
}

// What gate i must give: its value wherever complementing it would change
// an output (one evaluation of the circuit with the gate complemented, all
// 64 inputs at once), free elsewhere. v holds every live value; flipped is
// room for the evaluation.
Want care_want(const Walk &w, const std::vector<char> &live, const std::vector<TT> &v, int i,
               std::vector<TT> &flipped) {
    flipped = v;
    flipped[first_gate + i] = ~v[first_gate + i];
    for (std::size_t q = i + 1; q < w.n.size(); ++q)
        if (live[first_gate + q])
            flipped[first_gate + q] = node_value(w, w.n[q], flipped);
    TT care = 0;
    for (int o : w.out)
        care |= flipped[o] ^ v[o];
    return {v[first_gate + i] & care, ~v[first_gate + i] & care};
}

// The want of h for which op1(x, h) meets `want`, for the five ways of
// combining x and h (XOR, AND, OR, x & ~h, h & ~x); false where x rules
// the way out. outer_node gives the gate itself.
bool inner_want(TT tx, int op1, Want want, Want &in) {
    switch (op1) {
    case 0:
        in = {(want.on & ~tx) | (want.off & tx), (want.off & ~tx) | (want.on & tx)};
        return true;
    case 1:
        in = {want.on, want.off & tx};
        return (tx & want.on) == want.on;
    case 2:
        in = {want.on & ~tx, want.off};
        return (tx & want.off) == 0;
    case 3:
        in = {want.off & tx, want.on};
        return (tx & want.on) == want.on;
    default:
        in = {want.on, want.off & ~tx};
        return (tx & want.on) == 0;
    }
}

Walk::Node outer_node(int op1, int x, int h) {
    static constexpr unsigned ops[4] = {XOR, AND, OR, ANDN};
    return op1 < 4 ? Walk::Node{ops[op1], x, h, zero} : Walk::Node{ANDN, h, x, zero};
}

// An operation on ins that is 1 on `on` and 0 on `off`, into x; the choices
// left free are made with r.
bool refit(const Walk &w, const int ins[3], Want want, const std::vector<TT> &v, Walk::Node &x,
           Rng &r) {
    if (w.three) {
        unsigned imm = 0;
        for (unsigned k = 0; k < 8; ++k) {
            const TT cls = ((k & 4u) ? v[ins[0]] : ~v[ins[0]]) &
                           ((k & 2u) ? v[ins[1]] : ~v[ins[1]]) &
                           ((k & 1u) ? v[ins[2]] : ~v[ins[2]]);
            const bool one = cls & want.on, nought = cls & want.off;
            if (one && nought)
                return false;
            if (one || (!nought && r.below(2)))
                imm |= 1u << k;
        }
        x = {imm, ins[0], ins[1], ins[2]};
        return true;
    }
    const unsigned start = r.below(8);
    for (unsigned k = 0; k < 8; ++k) {
        const unsigned op = (start + k) % 8; // the gate, and whether the operands are exchanged
        const int a = ins[(op >> 2) & 1u], b = ins[~(op >> 2) & 1u];
        if (meets(apply(static_cast<int>(op & 3u), v[a], v[b]), want)) {
            x = {op & 3u, a, b, zero};
            return true;
        }
    }
    return false;
}

// A random order of the live gates' dependencies, with the dead gates
// replaced by random ones at random places.
Walk reorder(const Walk &w, Rng &r) {
    std::vector<char> live;
    const int gates = mark_live(w, live), count = static_cast<int>(w.n.size());
    std::vector<int> placed(first_gate + count, -1);
    std::iota(placed.begin(), placed.begin() + first_gate, 0);
    Walk o{w.s, w.three, {}, {}};
    int left = gates, spare = count - gates;
    while (left + spare > 0) {
        const int at = first_gate + static_cast<int>(o.n.size());
        if (spare > 0 && static_cast<int>(r.below(left + spare)) < spare) {
            o.n.push_back({r.below(w.three ? 256 : 4), static_cast<int>(r.below(at)),
                           static_cast<int>(r.below(at)),
                           w.three ? static_cast<int>(r.below(at)) : zero});
            --spare;
            continue;
        }
        std::vector<int> ready;
        for (int i = 0; i < count; ++i) {
            const Walk::Node &x = w.n[i];
            if (live[first_gate + i] && placed[first_gate + i] < 0 && placed[x.a] >= 0 &&
                placed[x.b] >= 0 && placed[x.c] >= 0)
                ready.push_back(i);
        }
        const int i = ready[r.below(ready.size())];
        const Walk::Node &x = w.n[i];
        o.n.push_back({x.f, placed[x.a], placed[x.b], placed[x.c]});
        placed[first_gate + i] = at;
        --left;
    }
    for (int j = 0; j < 4; ++j)
        o.out[j] = placed[w.out[j]];
    return o;
}

// Gate i rebuilt as two operations, the inner one in the dead gate p < i,
// on values in `outer` and `inner`; calls take(candidate) for each way
// found until it returns true.
template <class Take>
void two_operations(const Walk &w, int i, int p, Want want, const std::vector<TT> &v,
                    const std::vector<int> &outer, const std::vector<int> &inner, Take take) {
    const int gp = first_gate + p, ni = static_cast<int>(inner.size());
    Walk t = w;
    const auto attempt = [&](Walk::Node in, Walk::Node out) {
        t.n[p] = in;
        t.n[i] = out;
        return take(t);
    };
    if (!w.three) {
        // op1(x, op2(a, b)): the want of op2 follows from op1 and x.
        for (int x : outer) {
            for (int op1 = 0; op1 < 5; ++op1) {
                Want in;
                if (!inner_want(v[x], op1, want, in))
                    continue;
                const Walk::Node out = outer_node(op1, x, gp);
                for (int a = 0; a < ni; ++a)
                    for (int b = 0; b < ni; ++b)
                        for (unsigned op2 = 0; op2 < 4; ++op2)
                            if (a != b && (op2 == ANDN || a < b) &&
                                meets(apply(static_cast<int>(op2), v[inner[a]], v[inner[b]]), in) &&
                                attempt({op2, inner[a], inner[b], zero}, out))
                                return;
            }
        }
        return;
    }
    // op(x, y, op'(a, b, c)).
    const int no = static_cast<int>(outer.size());
    for (int xa = 0; xa < no; ++xa)
        for (int xb = xa + 1; xb < no; ++xb) {
            const TT ta = v[outer[xa]], tb = v[outer[xb]];
            const bool done = inner_wants(ta, tb, want, [&](Want in) {
                unsigned imm, outer_imm;
                for (int a = 0; a < ni; ++a)
                    for (int b = a + 1; b < ni; ++b)
                        for (int d = b + 1; d < ni; ++d)
                            if (fits3(v[inner[a]], v[inner[b]], v[inner[d]], in, imm) &&
                                fits3(ta, tb, apply3(imm, v[inner[a]], v[inner[b]], v[inner[d]]),
                                      want, outer_imm) &&
                                attempt({imm, inner[a], inner[b], inner[d]},
                                        {outer_imm, outer[xa], outer[xb], gp}))
                                return true;
                return false;
            });
            if (done)
                return;
        }
}

// The walk from one circuit; returns the smallest met.
Walk walk(Walk cur, long long steps, std::uint64_t seed) {
    Rng r{0x9E3779B97F4A7C15ull ^ (seed * 0x2545F4914F6CDD1Dull) ^
          (static_cast<std::uint64_t>(cur.s * 2 + cur.three) << 40)};
    for (int i = 0; i < 12; ++i) { // room for the walk: dead gates to reuse
        const int at = first_gate + static_cast<int>(cur.n.size());
        cur.n.push_back({r.below(cur.three ? 256 : 4), static_cast<int>(r.below(at)),
                         static_cast<int>(r.below(at)),
                         cur.three ? static_cast<int>(r.below(at)) : zero});
    }
    const int count = static_cast<int>(cur.n.size());
    std::vector<TT> v = fixed_values(count), flipped;
    std::vector<char> live, scratch;
    std::vector<TT> sv = v;
    int size = evaluate(cur, live, v), best_size = size;
    Walk best = cur;
    const auto better = [&](const Walk &t, int limit) {
        const int n = evaluate(t, scratch, sv);
        return n >= 0 && n <= limit ? n : -1;
    };
    for (long long step = 0; step < steps; ++step) {
        if (step % 100000 == 99999) {
            cur = reorder(cur, r);
            size = evaluate(cur, live, v);
            continue;
        }
        std::vector<int> gates, earlier{0, 1, 2, 3, 4, 5, 6, 7};
        for (int i = 0; i < count; ++i)
            if (live[first_gate + i])
                gates.push_back(i);
        const int i = gates[r.below(gates.size())];
        for (int q : gates)
            if (q < i)
                earlier.push_back(first_gate + q);
        const Want want = care_want(cur, live, v, i, flipped);
        const unsigned kind = r.below(2000);
        Walk next;
        int next_size = -1;
        if (kind == 0) {
            // Two operations in the place of gate i and a dead gate before it.
            // Worth it only where gate i alone keeps two more gates live.
            Walk t = cur;
            t.n[i] = {0, zero, zero, zero};
            int p = i - 1;
            while (p >= 0 && live[first_gate + p])
                --p;
            if (p < 0 || size - mark_live(t, scratch) < 3)
                continue;
            std::vector<int> inner, outer;
            for (int q : earlier)
                (q < first_gate + p ? inner : outer).push_back(q);
            outer.insert(outer.end(), inner.begin(), inner.end());
            two_operations(cur, i, p, want, v, outer, inner, [&](const Walk &t) {
                const int n = better(t, size - 1);
                if (n >= 0) {
                    next = t;
                    next_size = n;
                }
                return n >= 0;
            });
        } else if (kind < 40) {
            // Every operand anew: the choice that frees the most gates.
            const int ne = static_cast<int>(earlier.size());
            for (int a = 0; a < ne; ++a)
                for (int b = a + 1; b < ne; ++b)
                    for (int d = cur.three ? b + 1 : 0; d < (cur.three ? ne : 1); ++d) {
                        const int ins[3] = {earlier[a], earlier[b], cur.three ? earlier[d] : zero};
                        Walk t = cur;
                        if (!refit(cur, ins, want, v, t.n[i], r))
                            continue;
                        const int n = better(t, next_size >= 0 ? next_size - 1 : size);
                        if (n >= 0) {
                            next = t;
                            next_size = n;
                        }
                    }
        } else {
            // One operand anew, mostly a live value.
            int ins[3] = {cur.n[i].a, cur.n[i].b, cur.n[i].c};
            ins[r.below(cur.three ? 3 : 2)] = r.below(4) == 0
                                                  ? static_cast<int>(r.below(first_gate + i))
                                                  : earlier[r.below(earlier.size())];
            Walk t = cur;
            if (refit(cur, ins, want, v, t.n[i], r))
                next_size = better(t, r.below(50) == 0 ? std::min(size + 1, best_size + 2) : size);
            if (next_size >= 0)
                next = std::move(t);
        }
        if (next_size < 0)
            continue;
        cur = std::move(next);
        size = evaluate(cur, live, v);
        if (size < best_size) {
            best_size = size;
            best = cur;
        }
    }
    return best;
}

Walk to_walk(int s, bool three, const Circuits &c) {
    Walk w{s, three, {}, three ? c.out3 : c.out2};
    if (three)
        for (const Gate3 &g : c.three)
            w.n.push_back({g.imm, g.a, g.b, g.c});
    else
        for (const Gate &g : c.two)
            w.n.push_back({static_cast<unsigned>(g.op), g.a, g.b, zero});
    return w;
}

// The live gates of a walk in their order, into c.
void from_walk(const Walk &w, Circuits &c) {
    std::vector<char> live;
    mark_live(w, live);
    std::vector<int> number(live.size(), -1);
    std::iota(number.begin(), number.begin() + first_gate, 0);
    int next = first_gate;
    if (w.three)
        c.three.clear();
    else
        c.two.clear();
    for (std::size_t i = 0; i < w.n.size(); ++i)
        if (live[first_gate + i]) {
            const Walk::Node &x = w.n[i];
            if (w.three)
                c.three.push_back({x.f, number[x.a], number[x.b], number[x.c]});
            else
                c.two.push_back({static_cast<int>(x.f), number[x.a], number[x.b]});
            number[first_gate + i] = next++;
        }
    for (int j = 0; j < 4; ++j)
        (w.three ? c.out3 : c.out2)[j] = number[w.out[j]];
}

// The circuits of the record that take(s, three) chooses, each changed by
// f on its own, two at a time (so which thread takes which changes
// nothing), and written back; stderr gets each one's size before and after.
template <class Take, class F>
std::vector<Circuits> each_circuit(std::vector<Circuits> all, Take take, F f) {
    std::vector<Walk> walks;
    for (int s = 0; s < 8; ++s)
        for (bool three : {false, true})
            if (take(s, three))
                walks.push_back(to_walk(s, three, all[s]));
    std::atomic<std::size_t> taken{0};
    const auto work = [&] {
        for (std::size_t k; (k = taken++) < walks.size();)
            f(walks[k]);
    };
    std::thread helper(work);
    work();
    helper.join();
    for (const Walk &w : walks) {
        const std::size_t before = w.three ? all[w.s].three.size() : all[w.s].two.size();
        from_walk(w, all[w.s]);
        std::fprintf(stderr, "S%d: %zu -> %zu %s\n", w.s + 1, before,
                     w.three ? all[w.s].three.size() : all[w.s].two.size(),
                     w.three ? "three-input operations" : "gates");
    }
    return all;
}

// Every circuit of the record walked.
std::vector<Circuits> improve(std::vector<Circuits> all, long long steps, std::uint64_t seed) {
    return each_circuit(
        std::move(all), [](int, bool) { return true; }, [&](Walk &w) { w = walk(w, steps, seed); });
}

// ---- Resubstitution: a gate and the gates only it needs, rebuilt smaller ----
//
// `resub` takes each live gate of a two-input circuit, last first, and
// looks, exhaustively, for one, two or three new gates on values outside
// its fanout that meet its care set: op(a, b); op1(x, op2(a, b));
// op1(x, op2(y, op3(a, b))) and op1(op2(a, b), op3(c, d)). Where the new
// gates free more gates than they add (the old gate and every gate only it
// needed), the circuit takes them, and the search starts again until no
// gate can be rebuilt smaller. The walk cannot reach these: it changes one
// gate at a time, or two next to a dead one. No random numbers: the result
// depends only on the record read. A few seconds.

// The live gates of w (in any order of dependencies) in an order where
// every operand comes first, and the dead ones dropped.
Walk in_dependency_order(const Walk &w) {
    const int count = static_cast<int>(w.n.size());
    std::vector<char> live(first_gate + count, 0);
    for (int o : w.out)
        live[o] = 1;
    for (bool grew = true; grew;) {
        grew = false;
        for (int i = 0; i < count; ++i)
            if (live[first_gate + i])
                for (int a : {w.n[i].a, w.n[i].b, w.n[i].c})
                    if (!live[a])
                        live[a] = grew = true;
    }
    std::vector<int> placed(first_gate + count, -1);
    std::iota(placed.begin(), placed.begin() + first_gate, 0);
    Walk o{w.s, w.three, {}, {}};
    for (bool placing = true; placing;) {
        placing = false;
        for (int i = 0; i < count; ++i) {
            const Walk::Node &x = w.n[i];
            if (live[first_gate + i] && placed[first_gate + i] < 0 && placed[x.a] >= 0 &&
                placed[x.b] >= 0 && placed[x.c] >= 0) {
                placed[first_gate + i] = first_gate + static_cast<int>(o.n.size());
                o.n.push_back({x.f, placed[x.a], placed[x.b], placed[x.c]});
                placing = true;
            }
        }
    }
    for (int j = 0; j < 4; ++j)
        o.out[j] = placed[w.out[j]];
    return o;
}

// One gate of w rebuilt smaller, if any can be; true if w changed.
bool resub_once(Walk &w) {
    const int count = static_cast<int>(w.n.size());
    std::vector<TT> v = fixed_values(count), flipped;
    std::vector<char> live, scratch;
    const int size = evaluate(w, live, v);
    for (int i = count - 1; i >= 0; --i) {
        if (!live[first_gate + i])
            continue;
        const Want want = care_want(w, live, v, i, flipped);
        // The gates that die with gate i besides itself: k new gates pay
        // only where at least k die.
        Walk cut = w;
        cut.n[i] = {AND, zero, zero, zero};
        const int freed = size - mark_live(cut, scratch);
        if (freed < 1)
            continue;
        // The values outside gate i's fanout.
        std::vector<char> fanout(first_gate + count, 0);
        fanout[first_gate + i] = 1;
        for (int q = i + 1; q < count; ++q)
            fanout[first_gate + q] = fanout[w.n[q].a] || fanout[w.n[q].b];
        std::vector<int> vals;
        for (int q = 0; q < first_gate + count; ++q)
            if (q != ones && (q < first_gate || (live[q] && !fanout[q])))
                vals.push_back(q);
        // New gates appended, the last taking gate i's place, then put in order.
        const auto take = [&](std::initializer_list<Walk::Node> gates) {
            Walk t = w;
            t.n.insert(t.n.end(), gates);
            const int now = first_gate + static_cast<int>(t.n.size()) - 1;
            for (Walk::Node &x : t.n) {
                x.a = x.a == first_gate + i ? now : x.a;
                x.b = x.b == first_gate + i ? now : x.b;
            }
            for (int &o : t.out)
                o = o == first_gate + i ? now : o;
            t.n[i] = {AND, zero, zero, zero};
            t = in_dependency_order(t);
            std::vector<TT> tv(first_gate + t.n.size());
            std::copy(v.begin(), v.begin() + first_gate, tv.begin());
            const int n = evaluate(t, scratch, tv);
            if (n < 0 || n >= size)
                return false;
            w = t;
            return true;
        };
        // Every gate on two of those values, one per value it gives.
        struct Pair {
            TT t;
            Walk::Node g;
        };
        std::vector<Pair> pairs;
        std::unordered_map<TT, char> given;
        for (int a : vals)
            for (int b : vals)
                for (unsigned op = AND; op <= ANDN; ++op)
                    if (a != b && (op == ANDN || a < b)) {
                        const TT t = apply(static_cast<int>(op), v[a], v[b]);
                        if (given.emplace(t, 0).second)
                            pairs.push_back({t, {op, a, b, zero}});
                    }
        const auto pair_meeting = [&](Want s) -> const Pair * {
            for (const Pair &p : pairs)
                if (meets(p.t, s))
                    return &p;
            return nullptr;
        };
        if (const Pair *p = pair_meeting(want); p && take({p->g}))
            return true;
        if (freed < 2)
            continue;
        // Each value x and way op1 for which op1(x, h) can meet s, with the
        // want of h, handed to f until it returns true.
        const auto outer_ways = [&](Want s, auto f) {
            for (int x : vals)
                for (int op1 = 0; op1 < 5; ++op1)
                    if (Want in; inner_want(v[x], op1, s, in) && f(x, op1, in))
                        return true;
            return false;
        };
        const int first_new = first_gate + count;
        if (outer_ways(want, [&](int x, int op1, Want in) {
                const Pair *p = pair_meeting(in);
                return p && take({p->g, outer_node(op1, x, first_new)});
            }))
            return true;
        if (freed < 3)
            continue;
        if (outer_ways(want, [&](int x, int op1, Want in1) {
                return outer_ways(in1, [&](int y, int op2, Want in2) {
                    const Pair *p = pair_meeting(in2);
                    return p && take({p->g, outer_node(op2, y, first_new),
                                      outer_node(op1, x, first_new + 1)});
                });
            }))
            return true;
        for (const Pair &p : pairs)
            for (int op1 = 0; op1 < 5; ++op1) {
                Want in;
                if (!inner_want(p.t, op1, want, in))
                    continue;
                if (const Pair *q = pair_meeting(in);
                    q && take({p.g, q->g, outer_node(op1, first_new, first_new + 1)}))
                    return true;
            }
    }
    return false;
}

// Every two-input circuit of the record rebuilt until no gate can be.
std::vector<Circuits> resub(std::vector<Circuits> all) {
    return each_circuit(
        std::move(all), [](int, bool three) { return !three; },
        [](Walk &w) {
            while (resub_once(w)) {
            }
        });
}

// ---- Rebuilding output bits on the gates the others need ----
//
// `rebuild` takes one, two or three of a circuit's output bits, keeps only
// the gates the other output bits need, and builds the chosen bits again
// with the search above (at the effort given) on top of those gates, in
// every order of the chosen bits, so that they share what the kept bits
// compute; a two-input result is then resubstituted. Where that is
// smaller, the circuit takes it, and the choices start again until none
// gives a smaller circuit. Then, for the number of rounds given, the gates
// are put in a random order of their dependencies (the search takes the
// first value that fits, so the order changes what it builds) and the same
// is done again, the result kept where it is no larger. The walk and
// resub change a few gates at a time; this replaces an output bit's whole
// cone. The random orders come from a generator seeded from the S-box and
// the form, so the record printed depends only on the record read, the
// effort and the rounds.

// The live gates of w.
int live_gates(const Walk &w) {
    std::vector<char> live;
    return mark_live(w, live);
}

// The search's gates as the walk's nodes.
std::vector<Walk::Node> nodes_of(const Circuit &c, bool three) {
    std::vector<Walk::Node> n;
    for (const Gate &g : c.gates)
        n.push_back(three ? Walk::Node{static_cast<unsigned>(g.imm), g.a, g.b, g.c}
                          : Walk::Node{static_cast<unsigned>(g.op), g.a, g.b, zero});
    return n;
}

// w with the output bits in `rip` built again, in `order` (the bits of
// `rip` first), on the gates the other bits need.
Walk rebuild_bits(const Walk &w, unsigned rip, const std::array<int, 4> &order, int effort) {
    const int count = static_cast<int>(w.n.size());
    std::vector<char> kept;
    mark_live(w, kept, 15u & ~rip);
    Circuit c;
    std::vector<int> at(first_gate + count);
    std::iota(at.begin(), at.begin() + first_gate, 0);
    for (int i = 0; i < count; ++i)
        if (kept[first_gate + i]) {
            const Walk::Node &x = w.n[i];
            at[first_gate + i] = w.three ? c.gate3(x.f, at[x.a], at[x.b], at[x.c])
                                         : c.gate(static_cast<int>(x.f), at[x.a], at[x.b]);
        }
    Walk o{w.s, w.three, {}, {}};
    for (int j = 0; j < 4; ++j)
        o.out[j] = at[w.out[j]];
    ternary = w.three;
    for (int j : order)
        if (rip >> j & 1u) {
            const TT t = output_tt(w.s, j);
            o.out[j] = synth(c, {t, ~t}, effort);
        }
    o.n = nodes_of(c, w.three);
    return in_dependency_order(o);
}

// w rebuilt until no choice of output bits gives a smaller circuit.
Walk rebuild_until_stable(Walk w, int effort) {
    int size = live_gates(w);
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (int k = 1; k <= 3 && !smaller; ++k)
            for (unsigned rip = 1; rip < 15 && !smaller; ++rip) {
                if (std::popcount(rip) != k)
                    continue;
                std::array<int, 4> order{};
                int m = 0;
                for (int j = 0; j < 4; ++j)
                    if (rip >> j & 1u)
                        order[m++] = j;
                do {
                    Walk t = rebuild_bits(w, rip, order, effort);
                    if (!w.three)
                        while (resub_once(t)) {
                        }
                    if (const int n = live_gates(t); n < size) {
                        w = std::move(t);
                        size = n;
                        smaller = true;
                        break;
                    }
                } while (std::next_permutation(order.begin(), order.begin() + k));
            }
    }
    return w;
}

// The circuits of the record rebuilt: every S-box's, or only S-box `only` (1-8).
std::vector<Circuits> rebuild(std::vector<Circuits> all, int effort, int rounds, int only) {
    return each_circuit(
        std::move(all), [only](int s, bool) { return only == 0 || s == only - 1; },
        [&](Walk &w) {
            w = rebuild_until_stable(w, effort);
            Rng r{0x9E3779B97F4A7C15ull ^ (static_cast<std::uint64_t>(w.s * 2 + w.three) << 40)};
            for (int round = 0; round < rounds; ++round)
                if (Walk t = rebuild_until_stable(in_dependency_order(reorder(w, r)), effort);
                    live_gates(t) <= live_gates(w))
                    w = std::move(t);
        });
}

// `resplit` lets the three-input search also split on values the circuit
// has already computed: f = op(v, g, h) for any earlier value v, with g and
// h each a value or one operation already at hand. The pilot method weighs
// these splits beside the splits on inputs. Each three-input circuit is
// first built anew by that search (every order of the output bits; taken
// where smaller), then rebuilt as `rebuild` does, with the same splits.
// The search on inputs alone cannot reach these: its parts never depend on
// the input it split on, and a computed value shared by several output bits
// often divides an output into parts that are already there.
std::vector<Circuits> resplit(std::vector<Circuits> all, int effort, int only) {
    return each_circuit(
        std::move(all), [only](int s, bool three) { return three && (only == 0 || s == only - 1); },
        [&](Walk &w) {
            value_splits = ternary = true;
            std::array<int, 4> order{0, 1, 2, 3};
            std::size_t size = live_gates(w);
            do {
                Result r = build(w.s, order, effort);
                if (r.c.gates.size() < size) {
                    size = r.c.gates.size();
                    w.n = nodes_of(r.c, true);
                    w.out = r.out;
                }
            } while (std::next_permutation(order.begin(), order.end()));
            w = rebuild_until_stable(w, effort);
            value_splits = ternary = false;
        });
}

// Windows of a few gates rebuilt exactly, with a SAT solver. A window is a
// set of gates closed under the paths between them (no path leaves it and
// comes back); the question put to the solver is whether `count` new gates,
// reading the inputs and any gate that does not depend on the window, can
// take its place: every value the window passed on becomes one of the new
// gates or one of the values they may read, the gates after the window are
// kept as they are, and the four outputs must still be the S-box's on all
// 64 inputs. So the window's values need only be right where an output
// sees them, and a solution is a smaller circuit for the whole S-box, not
// only for the window. Windows grow from every gate in turn, breadth first
// over operands and readers, from two gates to the size given, each one
// asked for one gate fewer; on success the circuit takes the answer and the
// windows start again, until none gives a smaller circuit.
//
// The solver is the `cadical` program (Debian's package of that name), each
// problem handed over as a DIMACS file. It runs under a limit on conflicts,
// not on time, so a problem it gives up on is the same on any machine and
// the record printed depends only on the record read, the window size, the
// limit and the solver's version.

// Clauses in DIMACS form. The literals `yes` (always true) and `no` (always
// false) let values known in advance stand where variables would.
constexpr int yes = 1 << 30, no = -yes;
struct Cnf {
    int vars = 0;
    long clauses = 0;
    std::vector<int> lits; // the clauses, each ended by 0
    bool contradiction = false;

    int var() { return ++vars; }
    void add(std::initializer_list<int> c) { add(c.begin(), c.end()); }
    void add(const std::vector<int> &c) { add(c.data(), c.data() + c.size()); }
    void add(const int *from, const int *to) {
        const std::size_t at = lits.size();
        for (; from != to; ++from) {
            if (*from == yes) {
                lits.resize(at);
                return;
            }
            if (*from != no)
                lits.push_back(*from);
        }
        contradiction |= lits.size() == at;
        lits.push_back(0);
        ++clauses;
    }
    // Exactly one of `vs`.
    void one_of(const std::vector<int> &vs) {
        add(vs);
        for (std::size_t i = 0; i < vs.size(); ++i)
            for (std::size_t k = i + 1; k < vs.size(); ++k)
                add({-vs[i], -vs[k]});
    }
    // Where p holds, x equals y.
    void same_if(int p, int x, int y) {
        add({-p, -x, y});
        add({-p, x, -y});
    }
    // r is the value at the operands `ops` of the function whose truth
    // table is `table` (entry m, a literal, for the operands' values m, the
    // first operand most significant).
    void gate(const std::vector<int> &ops, const std::vector<int> &table, int r) {
        const int k = static_cast<int>(ops.size());
        std::vector<int> c(k + 2);
        for (int m = 0; m < 1 << k; ++m) {
            for (int i = 0; i < k; ++i)
                c[i] = (m >> (k - 1 - i) & 1) ? -ops[i] : ops[i];
            c[k] = -table[m];
            c[k + 1] = r;
            add(c);
            c[k] = table[m];
            c[k + 1] = -r;
            add(c);
        }
    }
};

int known(bool b) {
    return b ? yes : no;
}

// The solver's model (index: variable), or empty where it found none within
// `conflicts`.
std::vector<char> solve(const Cnf &f, long conflicts) {
    if (f.contradiction)
        return {};
    const char *dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/gen_sbox_circuits.XXXXXX";
    const int fd = mkstemp(path.data());
    std::FILE *out = fd < 0 ? nullptr : fdopen(fd, "w");
    if (!out) {
        std::fprintf(stderr, "gen_sbox_circuits: cannot make a file in %s\n",
                     dir && *dir ? dir : "/tmp");
        std::exit(1);
    }
    std::fprintf(out, "p cnf %d %ld\n", f.vars, f.clauses);
    for (int l : f.lits)
        std::fprintf(out, l ? "%d " : "0\n", l);
    const bool written = std::fclose(out) == 0;
    const std::string command = "cadical -q -c " + std::to_string(conflicts) + " " + path;
    std::FILE *p = written ? popen(command.c_str(), "r") : nullptr;
    std::vector<char> model(f.vars + 1, 0);
    bool sat = false;
    std::string line;
    for (int ch; p && (ch = std::fgetc(p)) != EOF;) {
        if (ch != '\n') {
            line += static_cast<char>(ch);
            continue;
        }
        if (line == "s SATISFIABLE")
            sat = true;
        else if (line.starts_with("v "))
            for (const char *q = line.c_str() + 1;;) {
                char *end;
                const long v = std::strtol(q, &end, 10);
                if (end == q)
                    break;
                q = end;
                if (v > 0 && v <= f.vars)
                    model[v] = 1;
            }
        line.clear();
    }
    // cadical exits with 10 for satisfiable, 20 for unsatisfiable and 0
    // where the limit stopped it.
    const int status = p ? pclose(p) : -1;
    std::remove(path.c_str());
    if (!WIFEXITED(status) ||
        (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 10 && WEXITSTATUS(status) != 20)) {
        std::fprintf(stderr, "gen_sbox_circuits: `%s` failed (is cadical installed?)\n",
                     command.c_str());
        std::exit(1);
    }
    if (!sat)
        model.clear();
    return model;
}

// The window `in_w` of w replaced by `count` new gates, if the solver finds
// them (w changes and true is returned).
bool window_once(Walk &w, const std::vector<char> &in_w, int count, long conflicts) {
    const int n = static_cast<int>(w.n.size());
    const int arity = w.three ? 3 : 2;
    std::vector<char> live;
    std::vector<TT> v = fixed_values(n);
    evaluate(w, live, v);
    const auto operands = [&](int i) {
        const Walk::Node &x = w.n[i];
        return w.three ? std::vector<int>{x.a, x.b, x.c} : std::vector<int>{x.a, x.b};
    };
    // after: live, outside the window and reading it; passed: in the
    // window and read from outside it.
    std::vector<char> after(first_gate + n, 0), passed(first_gate + n, 0);
    for (int i = 0; i < n; ++i)
        if (live[first_gate + i] && !in_w[i])
            for (int a : operands(i))
                if (a >= first_gate && (in_w[a - first_gate] || after[a])) {
                    after[first_gate + i] = 1;
                    passed[a] |= in_w[a - first_gate];
                }
    for (int o : w.out)
        if (o >= first_gate && in_w[o - first_gate])
            passed[o] = 1;
    // What the new gates may read: the inputs, all ones (a two-input
    // circuit's NOT is an XOR with it), the gates that stay and do not
    // depend on the window.
    std::vector<int> readable(inputs);
    std::iota(readable.begin(), readable.end(), 0);
    if (!w.three)
        readable.push_back(ones);
    for (int i = 0; i < n; ++i)
        if (live[first_gate + i] && !in_w[i] && !after[first_gate + i])
            readable.push_back(first_gate + i);
    const int nr = static_cast<int>(readable.size());

    Cnf f;
    // New gate j: its operands (one of the readable values or of the
    // earlier new gates each, all different and in increasing order), its
    // truth table, its value and its operands' values on each input.
    std::vector<std::vector<std::vector<int>>> pick(count);
    std::vector<std::vector<int>> table(count), value(count, std::vector<int>(64));
    const auto choice = [&](int c, int r) {
        return c < nr ? known(v[readable[c]] >> r & 1u) : value[c - nr][r];
    };
    for (int j = 0; j < count; ++j) {
        const int choices = nr + j;
        pick[j].assign(arity, std::vector<int>(choices));
        for (std::vector<int> &slot : pick[j]) {
            for (int &p : slot)
                p = f.var();
            f.one_of(slot);
        }
        for (int s = 0; s + 1 < arity; ++s)
            for (int c = 0; c < choices; ++c)
                for (int d = 0; d <= c; ++d)
                    f.add({-pick[j][s][c], -pick[j][s + 1][d]});
        table[j].resize(1 << arity);
        for (int &t : table[j])
            t = f.var();
        if (w.three) { // not constant
            std::vector<int> some = table[j], not_all;
            for (int t : table[j])
                not_all.push_back(-t);
            f.add(some);
            f.add(not_all);
        } else { // a & b, a | b, a ^ b, a & ~b, b & ~a (bit 2a + b)
            for (unsigned t = 0; t < 16; ++t)
                if (gate_for(t) < 0) {
                    std::vector<int> c;
                    for (int m = 0; m < 4; ++m)
                        c.push_back((t >> m & 1u) ? -table[j][m] : table[j][m]);
                    f.add(c);
                }
        }
        for (int r = 0; r < 64; ++r) {
            value[j][r] = f.var();
            std::vector<int> ops(arity);
            for (int s = 0; s < arity; ++s) {
                ops[s] = f.var();
                for (int k = 0; k < choices; ++k)
                    f.same_if(pick[j][s][k], ops[s], choice(k, r));
            }
            f.gate(ops, table[j], value[j][r]);
        }
    }
    // Each value the window passed on: which new or readable value it
    // becomes, and its value on each input; the gates after the window as
    // they are; the outputs the S-box's.
    std::vector<int> passed_on;
    std::vector<std::vector<int>> becomes;
    std::vector<std::vector<int>> now(first_gate + n);
    for (int a = first_gate; a < first_gate + n; ++a)
        if (passed[a]) {
            std::vector<int> b(nr + count);
            for (int &x : b)
                x = f.var();
            f.one_of(b);
            now[a].resize(64);
            for (int r = 0; r < 64; ++r) {
                now[a][r] = f.var();
                for (int k = 0; k < nr + count; ++k)
                    f.same_if(b[k], now[a][r], choice(k, r));
            }
            passed_on.push_back(a);
            becomes.push_back(std::move(b));
        }
    // Every new gate is read (no answer has one that is not).
    for (int j = 0; j < count; ++j) {
        std::vector<int> readers;
        for (int k = j + 1; k < count; ++k)
            for (int s = 0; s < arity; ++s)
                readers.push_back(pick[k][s][nr + j]);
        for (const std::vector<int> &b : becomes)
            readers.push_back(b[nr + j]);
        f.add(readers);
    }
    const auto at = [&](int a, int r) {
        return now[a].empty() ? known(v[a] >> r & 1u) : now[a][r];
    };
    for (int i = 0; i < n; ++i)
        if (after[first_gate + i]) {
            const Walk::Node &x = w.n[i];
            const unsigned t = w.three ? x.f : table2(x);
            std::vector<int> table;
            for (int m = 0; m < 1 << arity; ++m)
                table.push_back(known(t >> m & 1u));
            now[first_gate + i].resize(64);
            for (int r = 0; r < 64; ++r) {
                std::vector<int> ops;
                for (int a : operands(i))
                    ops.push_back(at(a, r));
                f.gate(ops, table, now[first_gate + i][r] = f.var());
            }
        }
    for (int j = 0; j < 4; ++j)
        for (int r = 0; r < 64; ++r)
            f.add({(output_tt(w.s, j) >> r & 1u) ? at(w.out[j], r) : -at(w.out[j], r)});

    const std::vector<char> model = solve(f, conflicts);
    if (model.empty())
        return false;
    // The answer: the new gates after the old ones, the readers of the
    // window's values pointed at what they became, in dependency order.
    Walk t = w;
    const auto id = [&](int c) { return c < nr ? readable[c] : first_gate + n + (c - nr); };
    const auto chosen = [&](const std::vector<int> &vars) {
        return id(static_cast<int>(
            std::find_if(vars.begin(), vars.end(), [&](int x) { return model[x]; }) -
            vars.begin()));
    };
    for (int j = 0; j < count; ++j) {
        int op[3] = {zero, zero, zero};
        for (int s = 0; s < arity; ++s)
            op[s] = chosen(pick[j][s]);
        unsigned tt = 0;
        for (int m = 0; m < 1 << arity; ++m)
            tt |= static_cast<unsigned>(model[table[j][m]]) << m;
        if (w.three)
            t.n.push_back({tt, op[0], op[1], op[2]});
        else if (const int g = gate_for(tt); g == ANDN + 4)
            t.n.push_back({ANDN, op[1], op[0], zero});
        else
            t.n.push_back({static_cast<unsigned>(g), op[0], op[1], zero});
    }
    std::vector<int> to(first_gate + n + count);
    std::iota(to.begin(), to.end(), 0);
    for (std::size_t k = 0; k < passed_on.size(); ++k)
        to[passed_on[k]] = chosen(becomes[k]);
    for (int i = 0; i < n; ++i) {
        Walk::Node &x = t.n[i];
        x = {x.f, to[x.a], to[x.b], to[x.c]};
    }
    for (int &o : t.out)
        o = to[o];
    t = in_dependency_order(t);
    std::vector<TT> check = fixed_values(t.n.size());
    if (evaluate(t, live, check) < 0) {
        std::fprintf(stderr, "gen_sbox_circuits: the solver's answer is wrong\n");
        std::exit(1);
    }
    w = std::move(t);
    return true;
}

// The window of `size` gates grown from gate g, closed under the paths
// between its gates; false where it cannot grow that far or the closure
// makes it larger.
bool grow_window(const Walk &w, const std::vector<char> &live,
                 const std::vector<std::vector<int>> &readers, int g, int size,
                 std::vector<char> &in_w) {
    const int n = static_cast<int>(w.n.size());
    in_w.assign(n, 0);
    in_w[g] = 1;
    std::vector<int> queue{g};
    for (std::size_t q = 0; q < queue.size(); ++q) {
        const Walk::Node &x = w.n[queue[q]];
        std::vector<int> next;
        for (int a : {x.a, x.b, x.c})
            if (a >= first_gate)
                next.push_back(a - first_gate);
        next.insert(next.end(), readers[queue[q]].begin(), readers[queue[q]].end());
        for (int m : next)
            if (static_cast<int>(queue.size()) < size && !in_w[m]) {
                in_w[m] = 1;
                queue.push_back(m);
            }
    }
    if (static_cast<int>(queue.size()) < size)
        return false;
    std::vector<char> below(n, 0), above(n, 0);
    for (int i = 0; i < n; ++i)
        if (live[first_gate + i])
            for (int a : {w.n[i].a, w.n[i].b, w.n[i].c})
                if (a >= first_gate && (in_w[a - first_gate] || below[a - first_gate]))
                    below[i] = 1;
    for (int i = n - 1; i >= 0; --i)
        if (in_w[i] || above[i])
            for (int a : {w.n[i].a, w.n[i].b, w.n[i].c})
                if (a >= first_gate)
                    above[a - first_gate] = 1;
    for (int i = 0; i < n; ++i)
        if (!in_w[i] && below[i] && above[i])
            return false;
    return true;
}

Walk window_until_stable(Walk w, int largest, long conflicts) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (int size = 2; size <= largest && !smaller; ++size) {
            const int n = static_cast<int>(w.n.size());
            std::vector<char> live, in_w;
            mark_live(w, live);
            std::vector<std::vector<int>> readers(n);
            for (int i = 0; i < n; ++i)
                if (live[first_gate + i])
                    for (int a : {w.n[i].a, w.n[i].b, w.n[i].c})
                        if (a >= first_gate && (readers[a - first_gate].empty() ||
                                                readers[a - first_gate].back() != i))
                            readers[a - first_gate].push_back(i);
            for (int g = 0; g < n && !smaller; ++g)
                smaller = live[first_gate + g] && grow_window(w, live, readers, g, size, in_w) &&
                          window_once(w, in_w, size - 1, conflicts);
        }
    }
    return w;
}

// Stops with a message where the solver is missing.
void require_cadical(const char *mode) {
    if (std::system("cadical --version > /dev/null 2>&1") != 0) {
        std::fprintf(stderr,
                     "gen_sbox_circuits: %s needs the SAT solver cadical"
                     " (Debian package cadical) on the PATH\n",
                     mode);
        std::exit(1);
    }
}

// The circuits of the record with their windows rebuilt: every S-box's, or
// only S-box `only` (1-8).
std::vector<Circuits> window(std::vector<Circuits> all, int largest, long conflicts, int only) {
    require_cadical("window");
    return each_circuit(
        std::move(all), [only](int s, bool) { return only == 0 || s == only - 1; },
        [&](Walk &w) { w = window_until_stable(w, largest, conflicts); });
}

// ---- Complemented inputs and outputs ----
//
// `complement RECORD [conflicts]` lets each S-box's two-input circuit hold
// some of its inputs, gates and outputs complemented, where that leaves
// fewer gates. The round XORs every S-box input with a key mask before the
// circuit reads it and every output into a slice of l, so a complemented
// input or output costs nothing there (ede3_bulk.cpp complements the masks
// instead). Inside the circuit, a gate whose operands arrive complemented
// is another gate of the four or one of them followed by a NOT (AND of two
// complements is a complemented OR; AND with one is AND-NOT), and a NOT
// whose operand arrives complemented is a wire. Which values to hold
// complemented is chosen exactly: the solver is asked for a choice with
// one NOT fewer until it finds none. The three-input circuit then takes
// the same inputs and outputs complemented, which changes its immediates
// and nothing else.

// The table h of gate t once its operands arrive complemented as pa, pb and
// it is to give its value complemented as pg.
unsigned phased_table(unsigned t, int pa, int pb, int pg) {
    unsigned h = 0;
    for (int m = 0; m < 4; ++m)
        h |= ((t >> (2 * ((m >> 1) ^ pa) + ((m & 1) ^ pb)) & 1u) ^ static_cast<unsigned>(pg)) << m;
    return h;
}

// Whether gate x, as table h of its operands, is a gate of the four on two
// values or, where an operand is a constant, a wire (the other operand as
// it is); a NOT of the other operand is neither.
bool wire_or_gate(const Walk::Node &x, unsigned h) {
    if (constant_value(x.a)) {
        const unsigned row = x.a == ones ? 2 : 0; // rows 2a + b with a fixed
        return (h >> row & 1u) == 0 && (h >> (row + 1) & 1u) == 1;
    }
    if (constant_value(x.b)) {
        const unsigned col = x.b == ones ? 1 : 0;
        return (h >> col & 1u) == 0 && (h >> (2 + col) & 1u) == 1;
    }
    return gate_for(h) >= 0;
}

// A sequential counter: at most k of `xs` true.
void at_most(Cnf &f, const std::vector<int> &xs, int k) {
    const int n = static_cast<int>(xs.size());
    if (k >= n)
        return;
    if (k == 0) {
        for (int x : xs)
            f.add({-x});
        return;
    }
    // s[i][j]: at least j + 1 of xs[0..i] are true.
    std::vector<std::vector<int>> s(n, std::vector<int>(k));
    for (auto &row : s)
        for (int &v : row)
            v = f.var();
    for (int i = 0; i < n; ++i) {
        f.add({-xs[i], s[i][0]});
        if (i > 0) {
            for (int j = 0; j < k; ++j)
                f.add({-s[i - 1][j], s[i][j]});
            for (int j = 1; j < k; ++j)
                f.add({-xs[i], -s[i - 1][j - 1], s[i][j]});
            f.add({-xs[i], -s[i - 1][k - 1]});
        }
    }
}

// The phases (1: held complemented) of w's inputs and gates that leave the
// fewest NOTs, or empty where none leaves fewer than w has.
std::vector<char> best_phases(const Walk &w, long conflicts) {
    const int n = static_cast<int>(w.n.size());
    std::vector<char> live;
    mark_live(w, live);
    Cnf f;
    std::vector<int> phase(first_gate + n, no);
    for (int i = 0; i < inputs; ++i)
        phase[i] = f.var();
    std::vector<int> costs; // one per live gate: it needs a NOT
    int nots = 0;           // as the circuit stands
    for (int i = 0; i < n; ++i) {
        if (!live[first_gate + i])
            continue;
        const Walk::Node &x = w.n[i];
        const int g = first_gate + i;
        phase[g] = f.var();
        const int e = f.var();
        costs.push_back(e);
        const unsigned t = table2(x);
        for (int m = 0; m < 8; ++m) {
            const int pg = m >> 2 & 1, pa = m >> 1 & 1, pb = m & 1;
            const unsigned h = phased_table(t, pa, pb, pg);
            const bool needs_not = !wire_or_gate(x, h);
            if (m == 0)
                nots += needs_not;
            if (needs_not)
                f.add({pg ? -phase[g] : phase[g], pa ? -phase[x.a] : phase[x.a],
                       pb ? -phase[x.b] : phase[x.b], e});
        }
    }
    std::vector<char> best;
    for (int k = nots - 1; k >= 0; --k) {
        Cnf bounded = f;
        at_most(bounded, costs, k);
        const std::vector<char> model = solve(bounded, conflicts);
        if (model.empty())
            break;
        best.assign(first_gate + n, 0);
        for (int v = 0; v < first_gate + n; ++v)
            best[v] = phase[v] != no && model[phase[v]];
    }
    return best;
}

// w with its values held complemented as `phase` says: each gate the one of
// the four that its table has become, a NOT after it where none is, a NOT
// of a complemented value a wire.
Walk rephased(const Walk &w, const std::vector<char> &phase) {
    const int n = static_cast<int>(w.n.size());
    std::vector<char> live;
    mark_live(w, live);
    Walk t{w.s, false, {}, w.out};
    std::vector<int> to(first_gate + n);
    std::iota(to.begin(), to.begin() + first_gate, 0);
    const auto emit = [&](Walk::Node x) {
        t.n.push_back(x);
        return first_gate + static_cast<int>(t.n.size()) - 1;
    };
    for (int i = 0; i < n; ++i) {
        const int g = first_gate + i;
        if (!live[g])
            continue;
        const Walk::Node &x = w.n[i];
        const unsigned h = phased_table(table2(x), phase[x.a], phase[x.b], phase[g]);
        if (constant_value(x.a) || constant_value(x.b)) {
            const int other = constant_value(x.a) ? x.b : x.a;
            to[g] = wire_or_gate(x, h) ? to[other] : emit({XOR, to[other], ones, zero});
            continue;
        }
        const bool complemented = gate_for(h) < 0;
        const int op = gate_for(complemented ? ~h & 0xFu : h);
        to[g] = op == ANDN + 4 ? emit({ANDN, to[x.b], to[x.a], zero})
                               : emit({static_cast<unsigned>(op), to[x.a], to[x.b], zero});
        if (complemented)
            to[g] = emit({XOR, to[g], ones, zero});
    }
    for (int &o : t.out)
        o = to[o];
    return t;
}

// Operand k (0 for a, 1 for b, 2 for c) of a three-input immediate
// complemented.
unsigned flip_operand(unsigned imm, int k) {
    const unsigned bit = 4u >> k;
    unsigned r = 0;
    for (unsigned m = 0; m < 8; ++m)
        r |= (imm >> (m ^ bit) & 1u) << m;
    return r;
}

// The complemented inputs and outputs (bits as in Complement) of S-box s,
// chosen for its two-input circuit, given to its three-input one.
void complement_three(Circuits &c, velk::bulk::Complement k) {
    std::vector<char> flip(first_gate + c.three.size(), 0);
    for (int i = 0; i < inputs; ++i)
        flip[i] = k.inputs >> (5 - i) & 1u;
    for (int j = 0; j < 4; ++j)
        flip[c.out3[j]] ^= k.outputs >> (3 - j) & 1u;
    for (std::size_t i = 0; i < c.three.size(); ++i) {
        Gate3 &g = c.three[i];
        const int operands[3] = {g.a, g.b, g.c};
        for (int o = 0; o < 3; ++o)
            if (flip[operands[o]])
                g.imm = flip_operand(g.imm, o);
        if (flip[first_gate + i])
            g.imm ^= 0xFF;
    }
}

std::vector<Circuits> complement(std::vector<Circuits> all, long conflicts) {
    require_cadical("complement");
    for (int s = 0; s < 8; ++s) {
        const Walk w = to_walk(s, false, all[s]);
        const std::vector<char> phase = best_phases(w, conflicts);
        const std::size_t before = all[s].two.size();
        if (!phase.empty()) {
            velk::bulk::Complement k{};
            for (int i = 0; i < inputs; ++i)
                k.inputs |= static_cast<unsigned char>(phase[i] << (5 - i));
            for (int j = 0; j < 4; ++j)
                k.outputs |= static_cast<unsigned char>(phase[w.out[j]] << (3 - j));
            complement_of[s].inputs ^= k.inputs;
            complement_of[s].outputs ^= k.outputs;
            from_walk(rephased(w, phase), all[s]);
            complement_three(all[s], k);
            if (!both_compute(s, all[s])) {
                std::fprintf(stderr, "gen_sbox_circuits: S%d complemented wrongly\n", s + 1);
                std::exit(1);
            }
        }
        std::fprintf(stderr, "S%d: %zu -> %zu gates\n", s + 1, before, all[s].two.size());
    }
    return all;
}

// ---- Merging: the fewest values that circuits of an S-box compute ----
//
// `merge RECORD OTHER...` pools, for each S-box and each form, every value
// that the S-box's circuits compute, in either form, in the record and in
// the other records (read as the record's inputs are complemented; a value
// and its complement are one, the masks or the gate taking the NOT). The
// solver then chooses the fewest of them that give the four outputs, each
// value one gate (two-input form) or one operation (three-input form) on
// chosen values and inputs, and no value needed for itself. A value may be
// made from any values of smaller depth it is a function of (its depth:
// the fewest gates from the inputs to it in any circuit pooled), and from
// what it is made of in each circuit, through gates merged into one
// operation. So circuits that the other searches found separately lend each
// other their values. A two-input gate needs no NOT: of the gate giving a
// value and the one giving its complement, one is AND, OR, XOR or AND-NOT,
// so each value is held in the phase that gate gives, and the outputs'
// complements change with it (the three-input form takes them through its
// immediates). Where a choice needs a value for itself, the solver is told
// not to choose it again and asked again; where it finds nothing within
// its limit (1000000 conflicts a question), the smallest circuit found so
// far is kept.

// Truth table t of a circuit whose inputs are complemented as `had` says,
// read with them complemented as `now` says.
TT reframed(TT t, unsigned had, unsigned now) {
    TT r = 0;
    for (unsigned x = 0; x < 64; ++x)
        r |= (t >> (x ^ had ^ now) & 1u) << x;
    return r;
}

TT canonical(TT t) {
    return std::min(t, ~t);
}

// The values a circuit computes (inputs and constants first) and the
// operands of each.
struct Source {
    std::vector<TT> v;
    std::vector<std::array<int, 3>> operands;
};

Source source_of(const Walk &w, unsigned had, unsigned now) {
    Source src{fixed_values(w.n.size()), std::vector<std::array<int, 3>>(first_gate, {-1, -1, -1})};
    for (std::size_t i = 0; i < w.n.size(); ++i) {
        const Walk::Node &x = w.n[i];
        src.v[first_gate + i] = node_value(w, x, src.v);
        src.operands.push_back({x.a, x.b, x.c});
    }
    for (TT &t : src.v)
        t = reframed(t, had, now);
    return src;
}

// Whether t is a function of a, b and c (imm: which function).
bool made_of(TT t, TT a, TT b, TT c, unsigned &imm) {
    return fits3(a, b, c, Want{t, ~t}, imm);
}

// The values that `sources` compute, in order of depth, and for each the
// sets of values (at most `arity`, sorted) it may be made from.
struct Pool {
    std::vector<TT> value;
    std::vector<std::vector<std::vector<int>>> cuts;
    std::map<TT, int> index;
};

Pool pool_of(const std::vector<Source> &sources, int arity) {
    std::map<TT, int> depth;
    for (const Source &src : sources) {
        std::vector<int> d(src.v.size(), 0);
        for (std::size_t n = 0; n < src.v.size(); ++n) {
            for (int o : src.operands[n])
                if (o >= 0)
                    d[n] = std::max(d[n], d[o] + 1);
            const TT t = canonical(src.v[n]);
            if (t == 0)
                continue; // constants are folded into the gates
            const auto at = depth.find(t);
            if (at == depth.end() || at->second > d[n])
                depth[t] = d[n];
        }
    }
    std::vector<std::pair<int, TT>> order;
    for (const auto &[t, d] : depth)
        order.push_back({d, t});
    std::sort(order.begin(), order.end());
    Pool p;
    for (const auto &[d, t] : order) {
        p.index[t] = static_cast<int>(p.value.size());
        p.value.push_back(t);
    }
    p.cuts.resize(p.value.size());
    // Any values of smaller depth it is a function of.
    for (std::size_t n = inputs, lower = 0; n < order.size(); ++n) {
        while (order[lower].first < order[n].first)
            ++lower;
        const TT t = p.value[n];
        const std::vector<TT> &v = p.value;
        const int m = static_cast<int>(lower);
        unsigned imm;
        for (int a = 0; a < m; ++a)
            for (int b = a + 1; b < m; ++b) {
                if (made_of(t, v[a], v[b], 0, imm)) {
                    p.cuts[n].push_back({a, b});
                    continue;
                }
                for (int c = b + 1; arity == 3 && c < m; ++c)
                    if (made_of(t, v[a], v[b], v[c], imm) && !made_of(t, v[a], v[c], 0, imm) &&
                        !made_of(t, v[b], v[c], 0, imm))
                        p.cuts[n].push_back({a, b, c});
            }
    }
    // What it is made of in each circuit, through gates merged into one.
    for (const Source &src : sources) {
        std::vector<std::vector<std::vector<int>>> made(src.v.size());
        for (std::size_t n = 0; n < src.v.size(); ++n) {
            if (canonical(src.v[n]) == 0) {
                made[n] = {{}};
                continue;
            }
            const int me = p.index.at(canonical(src.v[n]));
            std::set<std::vector<int>> sets{{me}};
            std::vector<std::vector<int>> parts{{}};
            for (int o : src.operands[n]) {
                if (o < 0)
                    continue;
                std::vector<std::vector<int>> joined;
                for (const auto &a : parts)
                    for (const auto &b : made[o]) {
                        std::vector<int> u = a;
                        u.insert(u.end(), b.begin(), b.end());
                        std::sort(u.begin(), u.end());
                        u.erase(std::unique(u.begin(), u.end()), u.end());
                        if (static_cast<int>(u.size()) <= arity)
                            joined.push_back(u);
                    }
                parts = joined;
            }
            for (const auto &u : parts) {
                if (src.operands[n][0] < 0 || std::find(u.begin(), u.end(), me) != u.end())
                    continue;
                sets.insert(u);
                if (std::find(p.cuts[me].begin(), p.cuts[me].end(), u) == p.cuts[me].end())
                    p.cuts[me].push_back(u);
            }
            made[n].assign(sets.begin(), sets.end());
            if (made[n].size() > 64)
                made[n].resize(64);
        }
    }
    return p;
}

// The fewest pooled values, fewer than `limit`, that give the outputs
// `want` (canonical): for each chosen value the set it is made from, in an
// order where every set comes first; empty where the solver finds none.
std::vector<std::pair<int, std::vector<int>>> fewest(const Pool &p, const std::vector<int> &want,
                                                     int limit, long conflicts) {
    const int n = static_cast<int>(p.value.size());
    Cnf f;
    std::vector<int> chosen(n, no), roots;
    std::vector<std::vector<int>> cut_var(n);
    for (int v = inputs; v < n; ++v) {
        chosen[v] = f.var();
        roots.push_back(chosen[v]);
    }
    for (int v = inputs; v < n; ++v) {
        std::vector<int> any{-chosen[v]};
        for (const auto &cut : p.cuts[v]) {
            const int c = f.var();
            cut_var[v].push_back(c);
            any.push_back(c);
            for (int l : cut)
                if (l >= inputs)
                    f.add({-c, chosen[l]});
        }
        f.add(any);
    }
    for (int o : want)
        f.add({chosen[o]});
    std::vector<std::pair<int, std::vector<int>>> best;
    for (int k = limit - 1; k > 0;) {
        Cnf bounded = f;
        at_most(bounded, roots, k);
        const std::vector<char> model = solve(bounded, conflicts);
        if (model.empty())
            break;
        std::vector<int> pick(n, -1), state(n, 0);
        for (int v = inputs; v < n; ++v)
            for (std::size_t q = 0; model[chosen[v]] && pick[v] < 0 && q < cut_var[v].size(); ++q)
                if (model[cut_var[v][q]])
                    pick[v] = static_cast<int>(q);
        // The chosen values the outputs need, each after its set; a value
        // needed for itself stops the walk and is forbidden.
        std::vector<int> path, made;
        std::vector<int> cycle;
        const auto visit = [&](auto &&self, int v) -> void {
            if (v < inputs || state[v] == 2 || !cycle.empty())
                return;
            if (state[v] == 1) {
                cycle.assign(std::find(path.begin(), path.end(), v), path.end());
                return;
            }
            state[v] = 1;
            path.push_back(v);
            for (int l : p.cuts[v][pick[v]])
                self(self, l);
            path.pop_back();
            state[v] = 2;
            made.push_back(v);
        };
        for (int o : want)
            visit(visit, o);
        if (!cycle.empty()) {
            std::vector<int> clause;
            for (int v : cycle)
                clause.push_back(-cut_var[v][pick[v]]);
            f.add(clause);
            continue;
        }
        best.clear();
        for (int v : made)
            best.push_back({v, p.cuts[v][pick[v]]});
        k = static_cast<int>(made.size()) - 1;
    }
    return best;
}

std::vector<Circuits>
merge(std::vector<Circuits> all,
      const std::vector<std::pair<std::vector<Circuits>, Complements>> &others, long conflicts) {
    require_cadical("merge");
    for (int s = 0; s < 8; ++s) {
        Circuits &c = all[s];
        for (bool three : {false, true}) {
            std::vector<Source> sources;
            const unsigned now = complement_of[s].inputs;
            for (bool form : {three, !three}) {
                sources.push_back(source_of(to_walk(s, form, c), now, now));
                for (const auto &[record, k] : others)
                    sources.push_back(source_of(to_walk(s, form, record[s]), k[s].inputs, now));
            }
            const Pool p = pool_of(sources, three ? 3 : 2);
            std::vector<int> want;
            for (int j = 0; j < 4; ++j)
                want.push_back(p.index.at(canonical(output_tt(s, j))));
            const std::size_t before = three ? c.three.size() : c.two.size();
            const auto chosen = fewest(p, want, static_cast<int>(before), conflicts);
            if (!chosen.empty()) {
                // Built in order; each value in the phase its gate gives
                // (three-input: as pooled, the outputs as the record wants).
                std::vector<TT> v = fixed_values(0);
                std::vector<int> at(p.value.size(), -1);
                for (int i = 0; i < inputs; ++i)
                    at[p.index.at(canonical(v[i]))] = i;
                std::vector<Gate> two;
                std::vector<Gate3> ops;
                for (const auto &[value, cut] : chosen) {
                    int o[3] = {zero, zero, zero};
                    for (std::size_t q = 0; q < cut.size(); ++q)
                        o[q] = at[cut[q]];
                    TT t = p.value[value];
                    for (int j = 0; j < 4; ++j)
                        if (want[j] == value)
                            t = output_tt(s, j);
                    if (three) {
                        unsigned imm;
                        made_of(t, v[o[0]], v[o[1]], v[o[2]], imm);
                        ops.push_back({imm, o[0], o[1], o[2]});
                    } else {
                        // The first of AND, OR, XOR, a & ~b and b & ~a
                        // that gives the value or its complement.
                        Gate g{-1, o[0], o[1]};
                        for (int op = AND; op <= ANDN + 1 && g.op < 0; ++op) {
                            const int a = op > ANDN ? o[1] : o[0], b = op > ANDN ? o[0] : o[1];
                            const TT r = apply(std::min(op, +ANDN), v[a], v[b]);
                            if (canonical(r) == p.value[value])
                                g = {std::min(op, +ANDN), a, b};
                        }
                        t = apply(g.op, v[g.a], v[g.b]);
                        two.push_back(g);
                    }
                    at[value] = static_cast<int>(v.size());
                    v.push_back(t);
                }
                if (three) {
                    c.three = ops;
                    for (int j = 0; j < 4; ++j)
                        c.out3[j] = at[want[j]];
                } else {
                    // The outputs now complemented otherwise than the
                    // record says change the masks and the other form.
                    velk::bulk::Complement k{};
                    for (int j = 0; j < 4; ++j)
                        if (v[at[want[j]]] != output_tt(s, j))
                            k.outputs |= static_cast<unsigned char>(8u >> j);
                    c.two = two;
                    for (int j = 0; j < 4; ++j)
                        c.out2[j] = at[want[j]];
                    complement_three(c, k);
                    complement_of[s].outputs ^= k.outputs;
                }
                if (!both_compute(s, c)) {
                    std::fprintf(stderr, "gen_sbox_circuits: S%d merged wrongly\n", s + 1);
                    std::exit(1);
                }
            }
            std::fprintf(stderr, "S%d: %zu -> %zu %s (%zu values pooled)\n", s + 1, before,
                         three ? c.three.size() : c.two.size(),
                         three ? "three-input operations" : "gates", p.value.size());
        }
    }
    return all;
}

// The search: both forms for every S-box, each output order tried.
std::vector<Circuits> search(int effort, int effort3) {
    std::vector<Circuits> all(8);
    for (int s = 0; s < 8; ++s) {
        Result best;
        std::array<int, 4> order{0, 1, 2, 3};
        std::size_t best_size = SIZE_MAX;
        do {
            Result r = build(s, order, effort);
            if (r.c.gates.size() < best_size) {
                best_size = r.c.gates.size();
                best = r;
            }
        } while (std::next_permutation(order.begin(), order.end()));
        Packed packed = pack(best.c, best.out);
        // The search again with three-input operations; the smaller of it
        // and the packed two-input circuit is kept.
        ternary = true;
        std::array<int, 4> order3{0, 1, 2, 3};
        do {
            Result r = build(s, order3, effort3);
            if (r.c.gates.size() < packed.ops.size()) {
                Packed p;
                for (const Gate &g : r.c.gates)
                    p.ops.push_back({static_cast<unsigned>(g.imm), g.a, g.b, g.c});
                p.out = r.out;
                packed = p;
            }
        } while (std::next_permutation(order3.begin(), order3.end()));
        ternary = false;
        std::fprintf(stderr, "S%d: %zu gates, %zu ternary\n", s + 1, best.c.gates.size(),
                     packed.ops.size());
        all[s] = {best.c.gates, best.out, packed.ops, packed.out};
    }
    return all;
}

// The optional S-box argument (argument `at`: the fifth of rebuild and
// window, the fourth of resplit): 1-8, or 0 (all) where it is missing.
int sbox_argument(int argc, char **argv, int at = 5) {
    const int only = argc > at ? std::atoi(argv[at]) : 0;
    if (only < 0 || only > 8) {
        std::fprintf(stderr, "gen_sbox_circuits: no S-box %s (1-8)\n", argv[at]);
        std::exit(2);
    }
    return only;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::string_view(argv[1]) == "search") {
        const int effort = argc > 2 ? std::atoi(argv[2]) : 1;
        const int effort3 = argc > 3 ? std::atoi(argv[3]) : 1;
        print_record(search(effort, effort3));
    } else if (argc >= 3 && std::string_view(argv[1]) == "window") {
        const int largest = argc > 3 ? std::atoi(argv[3]) : 7;
        const long conflicts = argc > 4 ? std::atol(argv[4]) : 30000;
        print_record(window(read_record(argv[2]), largest, conflicts, sbox_argument(argc, argv)));
    } else if (argc >= 3 && std::string_view(argv[1]) == "complement") {
        const long conflicts = argc > 3 ? std::atol(argv[3]) : 1000000;
        print_record(complement(read_record(argv[2]), conflicts));
    } else if (argc >= 3 && std::string_view(argv[1]) == "merge") {
        // The other records first: reading one sets complement_of.
        std::vector<std::pair<std::vector<Circuits>, Complements>> others;
        for (int i = 3; i < argc; ++i) {
            std::vector<Circuits> other = read_record(argv[i]);
            Complements k;
            std::copy(std::begin(complement_of), std::end(complement_of), k.begin());
            others.push_back({std::move(other), k});
        }
        print_record(merge(read_record(argv[2]), others, 1000000));
    } else if (argc == 3 && std::string_view(argv[1]) == "resub") {
        print_record(resub(read_record(argv[2])));
    } else if (argc >= 3 && std::string_view(argv[1]) == "rebuild") {
        const int effort = argc > 3 ? std::atoi(argv[3]) : 1;
        const int rounds = argc > 4 ? std::atoi(argv[4]) : 0;
        print_record(rebuild(read_record(argv[2]), effort, rounds, sbox_argument(argc, argv)));
    } else if (argc >= 3 && std::string_view(argv[1]) == "resplit") {
        const int effort = argc > 3 ? std::atoi(argv[3]) : 1;
        print_record(resplit(read_record(argv[2]), effort, sbox_argument(argc, argv, 4)));
    } else if (argc >= 3 && std::string_view(argv[1]) == "improve") {
        const long long steps = argc > 3 ? std::atoll(argv[3]) : 100000000;
        const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
        print_record(improve(read_record(argv[2]), steps, seed));
    } else if (argc == 2) {
        print_header(read_record(argv[1]));
    } else {
        std::fprintf(stderr,
                     "usage: gen_sbox_circuits search [effort [three-input effort]]"
                     " > sbox_circuits.txt\n"
                     "       gen_sbox_circuits improve RECORD [steps [seed]] > sbox_circuits.txt\n"
                     "       gen_sbox_circuits resub RECORD > sbox_circuits.txt\n"
                     "       gen_sbox_circuits rebuild RECORD [effort [rounds [S-box]]]"
                     " > sbox_circuits.txt\n"
                     "       gen_sbox_circuits resplit RECORD [effort [S-box]]"
                     " > sbox_circuits.txt\n"
                     "       gen_sbox_circuits window RECORD [largest window [conflicts [S-box]]]"
                     " > sbox_circuits.txt\n"
                     "       gen_sbox_circuits complement RECORD [conflicts] > sbox_circuits.txt\n"
                     "       gen_sbox_circuits merge RECORD [OTHER...] > sbox_circuits.txt\n"
                     "       gen_sbox_circuits sbox_circuits.txt > sbox_circuits.hpp\n");
        return 2;
    }
}
