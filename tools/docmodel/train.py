#!/usr/bin/python3
"""Trains the document localiser and exports it to ONNX.

Input: 128 x 128 planes of luma, Cb and Cr (0-255) of the searched part of a frame, stretched to a
square. Output: 64 x 64 probabilities that each cell lies on a document. Samples come from
tools/docmodel/export_generated (see README.md).

    /usr/bin/python3 tools/docmodel/train.py --data /work/dmdata/train --val /work/dmdata/val \
        --epochs 12 --seed 7 --out platform/vision/models/document.onnx
"""
import argparse
import time

import numpy as np
import torch
import torch.nn as nn
import torch.nn.functional as F

N_IN, N_OUT = 128, 64


def load(folder):
    x = np.fromfile(folder + "/inputs.u8", np.uint8).reshape(-1, N_IN, N_IN, 3)
    m = np.fromfile(folder + "/masks.u8", np.uint8).reshape(-1, N_OUT, N_OUT)
    return torch.from_numpy(x).permute(0, 3, 1, 2).contiguous(), torch.from_numpy(m).unsqueeze(1).contiguous()


class Separable(nn.Module):
    """Depthwise 3 x 3 then pointwise 1 x 1, each with batch norm and ReLU."""

    def __init__(self, cin, cout, stride=1, dilation=1):
        super().__init__()
        self.dw = nn.Conv2d(cin, cin, 3, stride, dilation, dilation=dilation, groups=cin, bias=False)
        self.bn1 = nn.BatchNorm2d(cin)
        self.pw = nn.Conv2d(cin, cout, 1, bias=False)
        self.bn2 = nn.BatchNorm2d(cout)

    def forward(self, x):
        return F.relu(self.bn2(self.pw(F.relu(self.bn1(self.dw(x))))))


class DocNet(nn.Module):
    def __init__(self):
        super().__init__()
        self.stem = nn.Sequential(nn.Conv2d(3, 12, 3, 2, 1, bias=False), nn.BatchNorm2d(12), nn.ReLU())  # 64
        self.e1 = Separable(12, 24, 2)  # 32
        self.e2 = Separable(24, 32, 2)  # 16
        # 8: dilated blocks see across the whole card (a band or a portrait is part of it)
        self.e3 = nn.Sequential(Separable(32, 64, 2), Separable(64, 64, 1, 2), Separable(64, 64, 1, 4))
        self.d2 = Separable(64 + 32, 32)
        self.d1 = Separable(32 + 24, 24)
        self.d0 = nn.Sequential(nn.Conv2d(24 + 12, 12, 1, bias=False), nn.BatchNorm2d(12), nn.ReLU())
        self.head = nn.Conv2d(12, 1, 1)

    def forward(self, x):
        x = (x - 128.0) / 64.0
        s = self.stem(x)
        a = self.e1(s)
        b = self.e2(a)
        c = self.e3(b)
        up = lambda t: F.interpolate(t, scale_factor=2.0, mode="nearest")
        y = self.d2(torch.cat([up(c), b], 1))
        y = self.d1(torch.cat([up(y), a], 1))
        y = self.d0(torch.cat([up(y), s], 1))
        return self.head(y)


def augment(x, m, g):
    """Flips and quarter turns (mask alike), light and contrast on luma, a little chroma shift."""
    if torch.rand(1, generator=g) < 0.5:
        x, m = x.flip(3), m.flip(3)
    if torch.rand(1, generator=g) < 0.5:
        x, m = x.flip(2), m.flip(2)
    if torch.rand(1, generator=g) < 0.3:
        x, m = x.transpose(2, 3), m.transpose(2, 3)
    x = x.float()
    b = x.shape[0]
    gain = 0.6 + 0.8 * torch.rand(b, 1, 1, generator=g)
    offset = -40 + 80 * torch.rand(b, 1, 1, generator=g)
    mean = x[:, 0].mean(dim=(1, 2), keepdim=True)
    x[:, 0] = ((x[:, 0] - mean) * gain + mean + offset).clamp(0, 255)
    x[:, 1:] = (x[:, 1:] + (-8 + 16 * torch.rand(b, 2, 1, 1, generator=g))).clamp(0, 255)
    return x, m.float() / 255.0


def loss_fn(logits, target):
    bce = F.binary_cross_entropy_with_logits(logits, target)
    p = torch.sigmoid(logits)
    inter = (p * target).sum(dim=(1, 2, 3))
    dice = 1 - (2 * inter + 1) / (p.sum(dim=(1, 2, 3)) + target.sum(dim=(1, 2, 3)) + 1)
    return bce + 0.5 * dice.mean()


def evaluate(model, x, m):
    model.eval()
    ious, found, empty_clean, cards, empties = [], 0, 0, 0, 0
    with torch.no_grad():
        for i in range(0, len(x), 256):
            p = torch.sigmoid(model(x[i:i + 256].float())) > 0.5
            t = m[i:i + 256] > 127
            for k in range(len(p)):
                if t[k].sum() == 0:
                    empties += 1
                    empty_clean += int(p[k].sum() < 20)
                    continue
                cards += 1
                iou = (p[k] & t[k]).sum().item() / max(1, (p[k] | t[k]).sum().item())
                ious.append(iou)
                found += int(iou >= 0.85)
    model.train()
    return np.median(ious), found / max(1, cards), empty_clean / max(1, empties)


class Exported(nn.Module):
    """The network with its probabilities, as the platform runs it."""

    def __init__(self, net):
        super().__init__()
        self.net = net

    def forward(self, x):
        return torch.sigmoid(self.net(x))


def export(model, out):
    model.eval()
    torch.onnx.export(Exported(model), torch.zeros(1, 3, N_IN, N_IN), out, opset_version=11,
                      input_names=["planes"], output_names=["document"], do_constant_folding=True)
    print("wrote", out, flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", required=True, nargs="+")
    ap.add_argument("--val", required=True, nargs="+")
    ap.add_argument("--init", help="start from this checkpoint (.pt) instead of random weights")
    ap.add_argument("--lr", type=float, default=3e-3)
    ap.add_argument("--epochs", type=int, default=12)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--batch", type=int, default=64)
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--out", required=True)
    ap.add_argument("--export-only", action="store_true", help="export the checkpoint OUT.pt, no training")
    args = ap.parse_args()
    torch.set_num_threads(args.threads)
    torch.manual_seed(args.seed)
    np.random.seed(args.seed)
    g = torch.Generator().manual_seed(args.seed)
    if args.export_only:
        model = DocNet()
        model.load_state_dict(torch.load(args.out + ".pt"))
        export(model, args.out)
        return
    parts = [load(d) for d in args.data]
    x, m = torch.cat([p[0] for p in parts]), torch.cat([p[1] for p in parts])
    parts = [load(d) for d in args.val]
    vx, vm = torch.cat([p[0] for p in parts]), torch.cat([p[1] for p in parts])
    print(f"{len(x)} training samples, {len(vx)} validation samples", flush=True)
    model = DocNet()
    if args.init:
        model.load_state_dict(torch.load(args.init))
    print("parameters:", sum(p.numel() for p in model.parameters()), flush=True)
    opt = torch.optim.AdamW(model.parameters(), lr=args.lr, weight_decay=1e-4)
    steps = args.epochs * (len(x) // args.batch)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=args.lr, total_steps=steps, pct_start=0.15)
    start = time.time()
    for epoch in range(args.epochs):
        order = torch.randperm(len(x), generator=g)
        total = 0.0
        for i in range(len(x) // args.batch):
            idx = order[i * args.batch:(i + 1) * args.batch]
            xb, mb = augment(x[idx], m[idx], g)
            loss = loss_fn(model(xb), mb)
            opt.zero_grad()
            loss.backward()
            opt.step()
            sched.step()
            total += loss.item()
        iou, found, clean = evaluate(model, vx, vm)
        print(f"epoch {epoch + 1}: loss {total / (len(x) // args.batch):.4f}  validation: median IoU {iou:.3f}, "
              f"IoU >= 0.85 on {100 * found:.1f} % of cards, {100 * clean:.1f} % of card-less inputs clean  "
              f"({time.time() - start:.0f} s)", flush=True)
        torch.save(model.state_dict(), args.out + ".pt")
    export(model, args.out)

if __name__ == "__main__":
    main()
