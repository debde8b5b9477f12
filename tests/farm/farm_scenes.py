"""The animations the farm tests render: a card turning over a chequered
floor, with image, matte and depth files, at a resolution 3 and 5 do not
divide; and a heavier version whose frames take long enough to interrupt."""

SCENE = """DEFINITION
resolution = 101 77;
aalevelmin = 1; aalevelmax = 16; aathreshold = 0.5;
triple target (0, 0.8, 0);
shader tiles (model = lambert, diffuse = 0.9,
              color = environment (procedure = Checker, urepeat = 8, vrepeat = 8,
                                   color1 = (40, 40, 50), color2 = (225, 225, 215)));
shader paint (model = phong, color = (200, 40, 30), diffuse = 0.8,
              specular = (180, 180, 180), shinyness = 30);
light key (model = spot, color = (255, 248, 235), intensity = 1.1, decay = 0,
           shine_along = (-0.45, -1, -0.35), spread = 70, penumbra = 10);
light fill (model = ambient, intensity = 0.2);
patch ground (shader = (tiles), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),
              cvs = ((cv((-6, 0, -6), 1), cv((-6, 0, 6), 1)),
                     (cv((6, 0, -6), 1), cv((6, 0, 6), 1))));
patch card (shader = (paint), uknots = (0, 1), vknots = (0, 1), divisions = (1, 1),
            cvs = ((cv((-1, 0, 0), 1), cv((-1, 2, 0), 1)),
                   (cv((1, 0, 0), 1), cv((1, 2, 0), 1))));
MODEL
camera (pix = "shot", mask = "shot_matte", depth_file = "shot_depth",
        eye = (4.5, 3.5, 6), view = target, aov = 45);
{ translate (4, 9, 3); instance key (); }
instance fill ();
instance ground ();
{ rotate (yaxis, 25 * frame); instance card (); }
"""

HEAVY_SCENE = SCENE.replace("resolution = 101 77;", "resolution = 480 360;").replace(
    "aalevelmin = 1; aalevelmax = 16; aathreshold = 0.5;",
    "aalevelmin = 16; aalevelmax = 64; aathreshold = 0;")


def outputs(frames):
    """The files a render of these frames writes."""
    names = []
    for f in frames:
        names += [f"shot.{f}.qrl", f"shot_matte.{f}", f"shot_depth.{f}"]
    return names
