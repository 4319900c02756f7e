/*
 * Low-power SBR decoding (ISO/IEC 14496-3 4.6.19): real QMF banks, real covariance prediction,
 * aliasing reduction by gain grouping and sinusoid leakage. See sbr_lp.h.
 */
#include "example/sbr_lp.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "example/sbr_tables.h"

#define ALIGN16(q) ((Zuf8u *)(((size_t)(q) + 15) & ~(size_t)15))
#define LP_EPS 1e-12
#define LEAK 0.00815 /* a sinusoid's share in each neighbouring channel of the real banks */

static SbrMode g_mode = SBR_MODE_HQ;
void sbr_set_mode(SbrMode mode) { g_mode = mode; }
SbrMode sbr_get_mode(void) { return g_mode; }

SbrLp *sbr_lp_new(int fixed) {
    SbrLp *lp = (SbrLp *)calloc(1, sizeof *lp);
    int sa, ia, wa, ss, is, ws, sd, id, wd, init, work;
    Zuf8u *p, *tmp;
    if (!lp) return NULL;
    if (zufsAnalysisFilterGetSize_SBR_RToR_32f(&sa, &ia, &wa) != zufOk ||
        zufsSynthesisFilterGetSize_SBR_RToR_32f(&ss, &is, &ws) != zufOk ||
        zufsSynthesisDownFilterGetSize_SBR_RToR_32f(&sd, &id, &wd) != zufOk)
        goto fail;
    init = ia > is ? ia : is;
    init = init > id ? init : id;
    work = wa > ws ? wa : ws;
    work = work > wd ? work : wd;
    lp->mem = p = (Zuf8u *)malloc((size_t)(sa + ss + sd + work + 4 * 16));
    tmp = (Zuf8u *)malloc((size_t)init + 16);
    if (!p || !tmp) {
        free(tmp);
        goto fail;
    }
    p = ALIGN16(p);
    zufsAnalysisFilterInit_SBR_RToR_32f(&lp->ana, p, ALIGN16(tmp));
    p = ALIGN16(p + sa);
    zufsSynthesisFilterInit_SBR_RToR_32f(&lp->syn, p, ALIGN16(tmp));
    p = ALIGN16(p + ss);
    zufsSynthesisDownFilterInit_SBR_RToR_32f(&lp->syn_down, p, ALIGN16(tmp));
    lp->work = ALIGN16(p + sd);
    free(tmp);
    if (fixed && (zufsAnalysisFilterInitAlloc_SBRLP_32s(&lp->ana_fx) != zufOk ||
                  zufsSynthesisFilterInitAlloc_SBRLP_32s(&lp->syn_fx) != zufOk ||
                  zufsSynthesisDownFilterInitAlloc_SBRLP_32s(&lp->syn_down_fx) != zufOk))
        goto fail;
    return lp;
fail:
    sbr_lp_free(lp);
    return NULL;
}

void sbr_lp_free(SbrLp *lp) {
    if (!lp) return;
    if (lp->ana_fx) zufsAnalysisFilterFree_SBRLP_32s(lp->ana_fx);
    if (lp->syn_fx) zufsSynthesisFilterFree_SBRLP_32s(lp->syn_fx);
    if (lp->syn_down_fx) zufsSynthesisDownFilterFree_SBRLP_32s(lp->syn_down_fx);
    free(lp->mem);
    free(lp);
}

/* ---- the real banks ------------------------------------------------------------------------ */

/* Scalings of the 32-bit real banks against the float ones, as for the complex banks (see
 * sbr_decoder.c): the analysis of samples x 2^FX_IN gives X_float 2^(FX_IN - 7). The 32-bit real
 * synthesis transform is twice the float one (1/16 against 1/32) and its window takes a 1/4, so
 * the float samples are 2 / 2^FX_SYN of its output. */
#define FX_IN 10
#define FX_SYN 5

static Zuf32s to_fixed(double v, double limit) {
    v = floor(v + 0.5);
    return (Zuf32s)(v > limit ? limit : v < -limit ? -limit : v);
}

void sbr_lp_analysis(SbrLp *lp, const float *core, Zuf32fc *const *dst, const float *win320) {
    Zuf32f x[SBR_SLOTS][32], *rows[SBR_SLOTS];
    int l, k;
    if (lp->ana_fx) {
        const double in = (double)(1 << FX_IN), out = ldexp(1.0, 7 - FX_IN);
        Zuf32s s[32], y[32];
        for (l = 0; l < SBR_SLOTS; ++l) {
            for (k = 0; k < 32; ++k) s[k] = to_fixed(core[32 * l + k] * in, 67108863.0);
            zufsAnalysisFilter_SBRLP_32s(s, y, 32, lp->ana_fx);
            for (k = 0; k < 32; ++k) x[l][k] = (Zuf32f)(y[k] * out);
        }
    } else {
        for (l = 0; l < SBR_SLOTS; ++l) rows[l] = x[l];
        zufsAnalysisFilter_SBR_RToR_32f_D2L(core, rows, win320, SBR_SLOTS, 0, 32, lp->ana, lp->work);
    }
    for (l = 0; l < SBR_SLOTS; ++l)
        for (k = 0; k < 32; ++k) dst[l][k].re = x[l][k], dst[l][k].im = 0.0f;
}

void sbr_lp_synthesis(SbrLp *lp, const Zuf32fc *const *rows, float *pcm, int down, const float *win320) {
    const int n = down ? 32 : 64;
    Zuf32f x[SBR_SLOTS][64];
    const Zuf32f *src[SBR_SLOTS];
    int l, k;
    for (l = 0; l < SBR_SLOTS; ++l) {
        for (k = 0; k < n; ++k) x[l][k] = rows[l][k].re;
        src[l] = x[l];
    }
    if (lp->syn_fx) {
        const double in = (double)(1 << FX_SYN), out = 2.0 / (1 << FX_SYN);
        Zuf32s s[64], y[64];
        for (l = 0; l < SBR_SLOTS; ++l) {
            for (k = 0; k < n; ++k) s[k] = to_fixed(x[l][k] * in, 33554431.0);
            if (down)
                zufsSynthesisDownFilter_SBRLP_32s(s, y, lp->syn_down_fx);
            else
                zufsSynthesisFilter_SBRLP_32s(s, y, lp->syn_fx);
            for (k = 0; k < n; ++k) pcm[n * l + k] = (float)(y[k] * out);
        }
    } else if (down) {
        zufsSynthesisDownFilter_SBR_RToR_32f_D2L(src, pcm, win320, SBR_SLOTS, lp->syn_down, lp->work);
    } else {
        zufsSynthesisFilter_SBR_RToR_32f_D2L(src, pcm, SBR_TAB_QMF_WINDOW_640_FP, SBR_SLOTS, lp->syn, lp->work);
    }
}

/* ---- HF generation ------------------------------------------------------------------------- */

/* Aliasing degree of the low-band channels from their first reflection coefficients r: where
 * neighbouring channels k-1 and k hold the two images of one component (r of opposite sign to
 * what the channel's spectral orientation gives: even channels are upright, odd ones mirrored),
 * the real banks leave aliasing that only equal gains on both channels cancel. */
static void aliasing_degree(const double *r, int k0, float *deg) {
    int k;
    memset(deg, 0, sizeof(float) * 32);
    for (k = 2; k < k0 && k < 32; ++k) {
        const double s = (k & 1) ? 1.0 : -1.0; /* the sign that marks aliasing in channel k */
        const float part = (float)(1.0 - r[k - 1] * r[k - 1]);
        if (r[k] * s <= 0.0) continue;
        if (r[k - 1] * s > 0.0) {
            deg[k] = 1.0f;
            if (r[k - 2] * s < 0.0) deg[k - 1] = part;
        } else if (r[k - 2] * s < 0.0) {
            deg[k] = part;
        }
    }
}

void sbr_lp_generate(SbrLp *lp, const SbrChannel *ch, const SbrBands *b, Zuf32fc xhigh[SBR_X_SLOTS][SBR_MAX_BANDS]) {
    Zuf32f x[SBR_X_SLOTS][32], a0[32], a1[32];
    const Zuf32f *rows[SBR_X_SLOTS];
    double r[32];
    float deg[32];
    const int l0 = 2 * ch->f.t_env[0], l1 = 2 * ch->f.t_env[ch->f.num_env];
    int i, j, l, p, k = b->kx;
    for (l = 0; l < SBR_X_SLOTS; ++l) {
        for (p = 0; p < 32; ++p) x[l][p] = ch->xlow[l][p].re;
        rows[l] = x[l];
    }
    zufsPredictCoef_SBR_R_32f_D2L(rows, a0, a1, 32, SBR_X_SLOTS - 2);
    /* first reflection coefficient -phi(0,1) / phi(1,1) over the covariance's slots */
    for (p = 0; p < 32; ++p) {
        double c01 = 0.0, c11 = 0.0;
        for (l = 2; l < SBR_X_SLOTS; ++l)
            c01 += (double)x[l][p] * x[l - 1][p], c11 += (double)x[l - 1][p] * x[l - 1][p];
        r[p] = c11 > 0.0 ? -c01 / c11 : 0.0;
        r[p] = r[p] > 1.0 ? 1.0 : r[p] < -1.0 ? -1.0 : r[p];
    }
    r[0] = 0.0;
    aliasing_degree(r, b->k0, deg);
    memset(lp->deg, 0, sizeof lp->deg);
    for (i = 0; i < b->num_patches; ++i)
        for (j = 0; j < b->patch_size[i]; ++j, ++k) {
            int g = 0;
            double bw, r0, r1;
            p = b->patch_start[i] + j;
            lp->deg[k] = j == 0 ? 0.0f : deg[p]; /* a patch border is no image pair */
            while (g + 1 < b->n_q && b->noise[g + 1] <= k) ++g;
            bw = ch->bw[g];
            r0 = bw * a0[p];
            r1 = bw * bw * a1[p];
            for (l = l0 + SBR_T_HFADJ; l < l1 + SBR_T_HFADJ; ++l) {
                xhigh[l][k].re = (Zuf32f)(x[l][p] + r0 * x[l - 1][p] + r1 * x[l - 2][p]);
                xhigh[l][k].im = 0.0f;
            }
        }
}

/* ---- HF adjustment ------------------------------------------------------------------------- */

void sbr_lp_gains(SbrLp *lp, const SbrBands *b, int l, const double *ecur, const int *smap, const double *s,
                  double *g) {
    const int kx = b->kx, end = b->kx + b->m;
    int group[2 * SBR_MAX_BANDS + 2], n = 0, open = 0, k, i;
    for (k = 0; k < b->m; ++k) lp->sine[l][k] = (float)s[k];
    /* The real banks are critically sampled, the complex ones twice oversampled: a real channel
     * carries half the energy of the complex one for the same signal, and E_curr with it, while
     * the envelope energies are complex-domain ones. */
    for (k = 0; k < b->m; ++k) g[k] *= 0.70710678118654752; /* sqrt(1/2) */
    /* groups of neighbouring channels with aliasing and without a sinusoid */
    for (k = kx; k < end - 1; ++k) {
        if (lp->deg[k + 1] != 0.0f && !smap[k - kx]) {
            if (!open) group[n++] = k, open = 1;
        } else if (open) {
            group[n++] = smap[k - kx] ? k : k + 1;
            open = 0;
        }
    }
    if (open) group[n++] = end;
    /* each group's gains drawn towards their common value by the aliasing degree, keeping the
     * group's energy (in squared gains: energies of the current envelope) */
    for (i = 0; i + 1 < n; i += 2) {
        double est = 0.0, total = 0.0, acc = 0.0, target, g2[SBR_MAX_BANDS];
        for (k = group[i]; k < group[i + 1]; ++k) est += ecur[k - kx], total += ecur[k - kx] * g[k - kx] * g[k - kx];
        target = total / (est + LP_EPS);
        for (k = group[i]; k < group[i + 1]; ++k) {
            double a = lp->deg[k];
            if (k + 1 < end && lp->deg[k + 1] > a) a = lp->deg[k + 1];
            g2[k - kx] = a * target + (1.0 - a) * g[k - kx] * g[k - kx];
            acc += g2[k - kx] * ecur[k - kx];
        }
        acc = total / (acc + LP_EPS);
        for (k = group[i]; k < group[i + 1]; ++k) g[k - kx] = sqrt(acc * g2[k - kx]);
    }
}

void sbr_lp_assemble(SbrLp *lp, SbrChannel *ch, const SbrBands *b) {
    const SbrFrame *f = &ch->f;
    const int end = 2 * f->t_env[f->num_env], kx = b->kx;
    int l, i, m;
    for (i = 0; i < SBR_X_SLOTS; ++i)
        for (m = kx; m < kx + b->m; ++m) ch->y[i][m].im = 0.0f;
    for (l = 0; l < f->num_env; ++l)
        for (i = 2 * f->t_env[l]; i < 2 * f->t_env[l + 1]; ++i) {
            /* the sinusoid index this slot had in HF adjustment; odd ones have no real part of
             * their own and show as leakage into the neighbours, of alternating sign */
            const int idx = (ch->index_sine - (end - i)) & 3;
            const double up = LEAK * sbr_phi_re[(idx + 3) & 3], down = LEAK * sbr_phi_re[(idx + 1) & 3];
            if (!(idx & 1)) continue;
            for (m = 0; m < b->m; ++m) {
                const int k = m + kx;
                const double s = lp->sine[l][m];
                if (s == 0.0) continue;
                if (k > 0) ch->y[i][k - 1].re -= (Zuf32f)(((k - 1) & 1 ? -1.0 : 1.0) * down * s);
                if (k + 1 < SBR_MAX_BANDS) ch->y[i][k + 1].re -= (Zuf32f)(((k + 1) & 1 ? -1.0 : 1.0) * up * s);
            }
        }
}

void sbr_lp_edges(Zuf32fc *x, const Zuf32fc *y, int kx, int m) {
    if (m <= 0) return;
    if (kx > 0) x[kx - 1].re += y[kx - 1].re;
    if (kx + m < SBR_MAX_BANDS) x[kx + m].re += y[kx + m].re;
}
